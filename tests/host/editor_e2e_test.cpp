// The editor page of the real program with a unit on MIDI: the program under
// Xvfb on a private JACK server (dummy backend), the standalone simulated
// unit kx5-sim as its only peer, WebKitWebDriver doing what a user does.
// What the unit holds afterwards is read from its memory dump. Screenshots
// and logs go to the artifacts folder.
#include "tests/audio/pulse_server.h"
#include "tests/host/e2e/editor_page.h"
#include "tests/host/e2e/library_panel.h"
#include "tests/host/e2e/program_under_test.h"
#include "tests/host/e2e/shared_world_test.h"
#include "tests/host/e2e/unit_dump.h"
#include "tests/host/e2e/unit_name.h"
#include "tests/host/e2e/x11_session.h"
#include "tests/support/child_process.h"
#include "tests/support/jack_server.h"

#include "ir/coefficient_file.h"
#include "ir/conversion_state.h"
#include "ir/ir_conversion.h"
#include "ir/source_loader.h"
#include "irfile/prepared_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <thread>

using namespace kx5::e2e;

namespace {

constexpr int kWait = 120000;
constexpr int kSampleRate = 48000;

// 16-bit PCM; channels[c][i] is sample i of channel c.
void writeWav(const std::string& path, const std::vector<std::vector<int16_t>>& channels) {
    const auto le = [](std::ofstream& out, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i)
            out.put(static_cast<char>((v >> (8 * i)) & 0xFF));
    };
    const uint32_t count = static_cast<uint32_t>(channels.size());
    const uint32_t frames = static_cast<uint32_t>(channels[0].size());
    const uint32_t dataBytes = frames * count * 2;
    std::ofstream out(path, std::ios::binary);
    out << "RIFF";
    le(out, 36 + dataBytes, 4);
    out << "WAVEfmt ";
    le(out, 16, 4);
    le(out, 1, 2);
    le(out, count, 2);
    le(out, kSampleRate, 4);
    le(out, kSampleRate * count * 2, 4);
    le(out, count * 2, 2);
    le(out, 16, 2);
    out << "data";
    le(out, dataBytes, 4);
    for (uint32_t i = 0; i < frames; ++i)
        for (const auto& c : channels)
            le(out, static_cast<uint16_t>(c[i]), 2);
}

// 0.3 s of noise decaying with the given time constant.
std::vector<int16_t> decayingNoise(unsigned seed, double decaySeconds) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    std::vector<int16_t> samples(kSampleRate * 3 / 10);
    for (size_t i = 0; i < samples.size(); ++i) {
        const double t = static_cast<double>(i) / kSampleRate;
        samples[i] =
            static_cast<int16_t>(std::lround(26000 * std::exp(-t / decaySeconds) * noise(random)));
    }
    return samples;
}

bool waitUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return true;
}

class EditorWithUnit : public SharedWorldTest {
  protected:
    void SetUp() override {
        SharedWorldTest::SetUp();
        if (HasFatalFailure()) return;
        name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        files = home.path() + "/files";
        std::filesystem::create_directories(files);
        dumpPath = home.path() + "/unit.json";
        jack = std::make_unique<kx5::test::JackServer>();
        ASSERT_TRUE(jack->up()) << jack->failure();
    }

    // The program first (it leaves JACK cleanly), then the unit, then JACK.
    void TearDown() override {
        program.reset();
        sim.reset();
        jack.reset();
    }

    std::map<std::string, std::string> jackEnvironment() const {
        return {{"JACK_DEFAULT_SERVER", jack->name()},
                {"JACK_NO_START_SERVER", "1"},
                {"JACK_NO_AUDIO_RESERVATION", "1"}};
    }

    std::string simLog() const { return world->artifacts() + "/" + name + "-sim.log"; }

    // kx5-sim under its default name "KX-5 Sim", with faults when given.
    // Its input model drops what comes faster than the line rate once a
    // small buffer is full, with time taken from JACK's frame clock. On a
    // busy machine JACK without real-time scheduling holds the program's
    // messages back and hands them over in one cycle, and the dummy
    // backend's clock falls behind the wall clock the page paces by: a burst
    // that a USB link (which has flow control) would not lose. The larger
    // buffer absorbs that; the pacing itself is checked by the page's link
    // tests on JACK. Every dump is still checked for lost input.
    bool startUnit(const std::vector<std::string>& faults = {}) {
        std::vector<std::string> argv{KX5_SIM,  "--api",          "jack",  "--dump",
                                      dumpPath, "--input-buffer", "262144"};
        argv.insert(argv.end(), faults.begin(), faults.end());
        std::filesystem::remove(simLog());
        sim = std::make_unique<ChildProcess>(argv, jackEnvironment(), simLog());
        return sim->started() && waitForSimLine("ready jack", 60000);
    }

    bool waitForSimLine(const std::string& text, int timeoutMs) {
        return waitUntil(
            [&] {
                const auto log = readWholeFile(simLog());
                return log && log->find(text) != std::string::npos;
            },
            timeoutMs);
    }

    // The product page, on JACK, without the program's own simulated unit.
    bool startProgram() {
        ProgramOptions options;
        options.testBundle = false;
        options.arguments = {"--no-simulated-unit"};
        options.environment = jackEnvironment();
        options.environment["KX5_MIDI_API"] = "jack";
        for (const auto& [key, value] : extraEnvironment)
            options.environment[key] = value;
        program =
            std::make_unique<ProgramUnderTest>(*world, home, name + "-program", std::move(options));
        if (!program->ready()) return false;
        page = std::make_unique<EditorPage>(program->driver());
        return true;
    }

    // The unit's memory now (SIGUSR1 writes it).
    std::optional<DumpBlocks> unitMemory() {
        std::filesystem::remove(dumpPath);
        sim->signal(SIGUSR1);
        if (!waitUntil([&] { return std::filesystem::exists(dumpPath); }, 30000)) return {};
        const auto text = readWholeFile(dumpPath);
        if (!text) return {};
        EXPECT_EQ(statOfDump(*text, "overruns"), 0.0) << "the unit lost input";
        EXPECT_EQ(statOfDump(*text, "badChecksums"), 0.0);
        return blocksOfDump(*text);
    }

    // The coefficient file of the last conversion (the next one overwrites
    // it), kept in the artifacts as well.
    std::vector<uint32_t> lastCoefficients(const std::string& keepAs) {
        const auto bytes = readWholeFile(home.temporaryFolder() + "VLM00000.tmp");
        if (!bytes) return {};
        std::ofstream(world->artifacts() + "/" + name + "-" + keepAs, std::ios::binary) << *bytes;
        return wordsOfCoefficientFile(*bytes);
    }

    // The view draws a moment after the page changed.
    void shot(const std::string& what) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        program->screenshot(name + "-" + what);
    }

    // Hands a WAV file to the running program and loads it into the slot
    // (0-based) as a user answers the dialogs.
    void loadWav(const std::string& path, int slot, std::optional<int> channel) {
        ASSERT_EQ(program->startAgain({path}), 0);
        const std::string end = page->loadHandedFile(slot, channel, kWait);
        shot("loaded-slot-" + std::to_string(slot + 1));
        ASSERT_EQ(end, "Finished") << page->dialogText();
        ASSERT_TRUE(page->press("OK"));
    }

    // A system setting changed on the System tab.
    void setSystemValue(const std::string& label, int value) {
        ASSERT_TRUE(page->click("#tab-system"));
        ASSERT_TRUE(program->driver()
                        .execute("const s = document.querySelector(`#system-editor "
                                 "select[aria-label='${arguments[0]}']`);"
                                 "if (!s) return false; s.value = arguments[1];"
                                 "s.dispatchEvent(new Event('change')); return true",
                                 {picojson::value(label), picojson::value(std::to_string(value))})
                        .evaluate_as_boolean());
    }

    // The host's save dialog answered with a path typed over the name it
    // proposes.
    static bool saveAs(X11Session& x, const std::string& path) {
        if (!x.waitForWindow("Save File", 30000) || !x.focusWindow("Save File")) return false;
        x.pressKey("a", true);
        x.typeText(path);
        x.pressKey("Return");
        return true;
    }

    // The host's open dialog answered with a path typed into its location
    // entry (which completes names inline: that is taken out again).
    static bool openFile(X11Session& x, const std::string& path) {
        if (!x.waitForWindow("Open File", 30000) || !x.focusWindow("Open File")) return false;
        x.pressKey("l", true);
        x.typeText(path);
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
        x.pressKey("Delete");
        x.pressKey("Return");
        return true;
    }

    // Clicks a button of a slot's row (0-based) in the slot list.
    bool clickSlotButton(int slot, const std::string& label) {
        const bool found =
            program->driver()
                .execute("const b = [...document.querySelectorAll(`#slot-list "
                         "li[data-slot='${arguments[0]}'] button`)]"
                         ".find((x) => x.textContent === arguments[1]);"
                         "if (!b) return false; b.dataset.e2e = 'slot-button';"
                         // A row's other actions open up when the row has the
                         // keyboard focus (or the pointer), as for a user.
                         "b.closest('li').querySelector('button').focus(); return true",
                         {picojson::value(static_cast<double>(slot)), picojson::value(label)})
                .evaluate_as_boolean();
        return found && page->click("button[data-e2e='slot-button']") &&
               program->driver()
                   .execute("document.querySelector(\"button[data-e2e='slot-button']\")"
                            ".removeAttribute('data-e2e'); return true")
                   .evaluate_as_boolean();
    }

    // Hands a WAV file to the running program and starts loading it into
    // the slot (0-based), without waiting for the end.
    bool startLoad(const std::string& path, int slot) {
        return program->startAgain({path}) == 0 && page->startHandedFile(slot, std::nullopt, kWait);
    }

    // The unit's memory dump as written (SIGUSR1), whole.
    std::string dumpText() {
        std::filesystem::remove(dumpPath);
        sim->signal(SIGUSR1);
        waitUntil([&] { return std::filesystem::exists(dumpPath); }, 30000);
        return readWholeFile(dumpPath).value_or("");
    }

    // Unplugged: the unit ends (writing its memory) and its ports go away.
    // Returns a copy of the memory it had, for starting it again with it,
    // as a unit keeps its memory while it is off.
    std::string unplugUnit() {
        EXPECT_EQ(sim->stop(), 0);
        const std::string kept = home.path() + "/kept-memory.json";
        std::filesystem::copy_file(dumpPath, kept,
                                   std::filesystem::copy_options::overwrite_existing);
        return kept;
    }

    // The unit (with faults when given) and the program, connected.
    bool connected(const std::vector<std::string>& faults = {}) {
        return startUnit(faults) && startProgram() && page->waitConnected(kWait);
    }

    // The unit is back: the editor offers to finish what was interrupted;
    // Finish, and the title of the message it ends with.
    std::string finishWhenBack() {
        if (!page->waitDialog("The unit is back", kWait) || !page->press("Finish")) return {};
        return page->waitTransferEnd(kWait);
    }

    bool waitLinkState(const std::string& state, int timeoutMs) {
        return program->driver().waitFor(
            "return document.getElementById('link-state')?.dataset.state === '" + state + "'",
            timeoutMs);
    }

    // The slot list shows the slot's state (0 empty, 1 loaded).
    bool waitSlotState(int slot, int state) {
        return program->driver().waitFor(
            "return document.querySelector(\"#slot-list li[data-slot='" + std::to_string(slot) +
                "'] .state\")?.dataset.state === '" + std::to_string(state) + "'",
            30000);
    }

    std::string name;
    TestHome home;
    std::string files;
    std::string dumpPath;
    std::unique_ptr<kx5::test::JackServer> jack;
    std::unique_ptr<ChildProcess> sim;
    std::unique_ptr<ProgramUnderTest> program;
    std::unique_ptr<EditorPage> page;
    std::map<std::string, std::string> extraEnvironment;
};

// Bytes 0-9 of SYSTEM%COMMON are its parameters in map order; KNOB MODE is
// the fourth.
constexpr size_t kKnobMode = 3;

int systemByte(const DumpBlocks& blocks, size_t index) {
    return std::stoi(blocks.at("SYSTEM%COMMON").substr(2 * index, 2), nullptr, 16);
}

} // namespace

TEST_F(EditorWithUnit, HandedWavFilesLoadIntoTheChosenSlotsOfTheUnit) {
    // The right channel of the stereo file is the mono file's sound, the
    // left one another: a swapped channel shows in the unit.
    const auto sound = decayingNoise(1, 0.05);
    const std::string mono = files + "/Kabinett Ü.wav";
    const std::string stereo = files + "/Raum Ä rechts.wav";
    writeWav(mono, {sound});
    writeWav(stereo, {decayingNoise(2, 0.02), sound});

    ASSERT_TRUE(startUnit());
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    shot("connected");

    ASSERT_NO_FATAL_FAILURE(loadWav(mono, 2, std::nullopt));
    const auto monoWords = lastCoefficients("slot3.tmp");
    ASSERT_NO_FATAL_FAILURE(loadWav(stereo, 3, 1));
    const auto stereoWords = lastCoefficients("slot4.tmp");
    ASSERT_EQ(monoWords.size(), 3354u);
    ASSERT_EQ(stereoWords.size(), 3354u);
    shot("slots");

    const auto memory = unitMemory();
    ASSERT_TRUE(memory);
    const auto slot3 = slotOfDump(*memory, 3);
    const auto slot4 = slotOfDump(*memory, 4);
    ASSERT_TRUE(slot3 && slot4);
    // The name is the base name in printable ASCII (a data byte of 0x80 or
    // more cannot travel in a DT1), accented letters as their base letter;
    // the file name keeps its UTF-8 bytes.
    EXPECT_EQ(slot3->name, "Kabinett U");
    EXPECT_EQ(slot3->name, unitSlotName("Kabinett Ü"));
    EXPECT_EQ(slot3->file, "Kabinett Ü.wav");
    EXPECT_EQ(slot3->fileBytes, std::string("Kabinett Ü.wav").size());
    EXPECT_TRUE(slot3->words == monoWords) << "slot 3 differs from its coefficient file";
    EXPECT_EQ(slot4->name, "[R]Raum A rechts");
    EXPECT_EQ(slot4->file, "Raum Ä rechts.wav");
    EXPECT_EQ(slot4->fileBytes, std::string("Raum Ä rechts.wav").size());
    EXPECT_TRUE(slot4->words == stereoWords) << "slot 4 differs from its coefficient file";
    EXPECT_TRUE(stereoWords == monoWords)
        << "the stereo file's right channel was not the one taken";
    // Both slots count as loaded; the others stay empty.
    const std::string status = memory->at("IRDATA%STATUS");
    EXPECT_EQ(status.substr(0, 10), "0000010100");

    // The page shows what the unit holds.
    EXPECT_EQ(page->slotFile(2), "Kabinett Ü.wav");
    EXPECT_EQ(page->slotFile(3), "Raum Ä rechts.wav");
    EXPECT_EQ(program->close(), 0);
}

// The unit's words for a file as the program converts it (a decoded copy
// for a file the conversion does not take as it is), its left channel.
std::vector<uint32_t> expectedWords(const std::string& path, const std::string& tempFolder) {
    const kx5::Preparation p = kx5::prepareSource(path, kx5::ChannelUse::AsStored, tempFolder);
    if (!std::holds_alternative<kx5::PreparedSource>(p)) return {};
    auto state = std::make_unique<kx5::ConversionState>();
    if (kx5::loadConversionSource(std::get<kx5::PreparedSource>(p).path, 0, *state) !=
        kx5::LoadResult::Loaded)
        return {};
    const std::atomic<bool> keepGoing{false};
    if (kx5::runConversion(*state, keepGoing) != kx5::ConversionOutcome::Converted) return {};
    const std::string file = tempFolder + "expected.tmp";
    if (!kx5::writeCoefficientFile(file, kx5::coefficientValues(*state))) return {};
    return wordsOfCoefficientFile(readWholeFile(file).value_or(""));
}

// Five files of five formats: the first heard through the built-in DI
// phrase on the computer's output (a private PulseAudio server's null
// sink); then all picked together and dropped on slot 3: one confirmation
// lists each file with its slot, length and rate and what it replaces;
// each lands verified, as the conversion makes it; one summary.
TEST_F(EditorWithUnit, FiveFilesOfEveryFormatAreHeardAndLandVerifiedInSlotsThreeToSeven) {
    kx5::test::PulseServer pulse;
    ASSERT_TRUE(pulse.running()) << pulse.log();
    extraEnvironment = {{"PULSE_SERVER", pulse.serverAddress()}};
    const std::string pack = files + "/Pack";
    std::filesystem::create_directories(pack);
    const std::string base = files + "/base.wav";
    writeWav(base, {decayingNoise(21, 0.04)});
    writeWav(pack + "/1 Plain.wav", {decayingNoise(22, 0.02)});
    const auto sox = [&](std::vector<std::string> options, const std::string& to, unsigned seed) {
        const std::string from = files + "/from-" + std::to_string(seed) + ".wav";
        writeWav(from, {decayingNoise(seed, 0.01 * seed / 10)});
        std::vector<std::string> argv{"sox", "-D", "-V1", from};
        argv.insert(argv.end(), options.begin(), options.end());
        argv.push_back(pack + "/" + to);
        ASSERT_EQ(kx5::test::runCommand(argv), 0) << to;
    };
    ASSERT_NO_FATAL_FAILURE(sox({"-b", "24"}, "2 Extensible 24.wav", 23));
    ASSERT_NO_FATAL_FAILURE(sox({"-e", "floating-point", "-b", "64"}, "3 Float 64.wav", 24));
    ASSERT_NO_FATAL_FAILURE(sox({"-r", "44100"}, "4 Aiff.aiff", 25));
    ASSERT_NO_FATAL_FAILURE(sox({"-b", "24"}, "5 Flac.flac", 26));
    const std::vector<std::string> names{"1 Plain.wav", "2 Extensible 24.wav", "3 Float 64.wav",
                                         "4 Aiff.aiff", "5 Flac.flac"};
    const std::string temp = home.path() + "/expected/";
    std::filesystem::create_directories(temp);
    std::vector<std::vector<uint32_t>> expected;
    for (const auto& n : names) {
        expected.push_back(expectedWords(pack + "/" + n, temp));
        ASSERT_EQ(expected.back().size(), 3354u) << n;
    }

    ASSERT_TRUE(startUnit());
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    // Slot 4 holds something the batch will replace.
    ASSERT_NO_FATAL_FAILURE(loadWav(base, 3, std::nullopt));

    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    LibraryPanel library(program->driver(), x);
    ASSERT_TRUE(library.addFolder(pack, kWait));
    ASSERT_TRUE(library.waitRows(5, kWait)) << library.status();
    ASSERT_EQ(library.rowNames(), names);

    // The row shown in the preview, heard: the sink plays until Stop.
    ASSERT_TRUE(library.clickRow(0));
    ASSERT_TRUE(program->driver().waitFor(
        "return document.getElementById('preview-name').textContent === '1 Plain.wav'", kWait));
    kx5::test::MonitorCapture monitor;
    ASSERT_TRUE(monitor.ok());
    ASSERT_TRUE(monitor.waitUntilRecording());
    ASSERT_TRUE(page->click("#audition-a"));
    const auto pressed = [&](const std::string& state) {
        return program->driver().waitFor("return document.getElementById('audition-a')"
                                         ".getAttribute('aria-pressed') === '" +
                                             state + "'",
                                         kWait);
    };
    ASSERT_TRUE(pressed("true")) << program->driver()
                                        .execute("return document.getElementById("
                                                 "'audition-note').textContent")
                                        .to_str();
    EXPECT_TRUE(kx5::test::waitUntil([&] {
        for (int16_t v : monitor.samples())
            if (std::abs(v) > 300) return true;
        return false;
    })) << "the sink stayed silent";
    shot("heard");
    ASSERT_TRUE(page->click("#audition-stop"));
    ASSERT_TRUE(pressed("false"));
    // B: what slot 4 (selected) holds now, as the unit holds it.
    ASSERT_TRUE(page->click("#audition-slot"));
    ASSERT_TRUE(page->click("#audition-b"));
    EXPECT_TRUE(program->driver().waitFor(
        "return document.getElementById('audition-b').getAttribute('aria-pressed') === 'true' && "
        "document.getElementById('audition-b').textContent.includes('slot 4 (base)')",
        kWait))
        << program->driver()
               .execute("return document.getElementById('audition-note').textContent")
               .to_str();
    ASSERT_TRUE(page->click("#audition-stop"));

    for (size_t r = 0; r < names.size(); ++r)
        ASSERT_TRUE(library.clickRow(r, r > 0));
    shot("batch-selected");
    ASSERT_TRUE(library.dragRowToSlot(0, 2));
    const bool asked = page->waitDialog("Load 5 files into slots 3–7?", kWait);
    if (!asked) shot("batch-not-asked");
    ASSERT_TRUE(asked) << page->dialogTitle();
    const auto lines = program->driver()
                           .execute("return [...document.querySelectorAll('#batch-list li')]"
                                    ".map((li) => li.textContent).join('\\n')")
                           .to_str();
    shot("batch-confirmation");
    const std::vector<std::string> expectedLines{
        "3 ←1 Plain.wav300 ms, 48 kHz · slot empty",
        "4 ←2 Extensible 24.wav300 ms, 48 kHz · replaces \"base\"",
        "5 ←3 Float 64.wav300 ms, 48 kHz · slot empty",
        "6 ←4 Aiff.aiff300 ms, 44.1 kHz · slot empty", "7 ←5 Flac.flac300 ms, 48 kHz · slot empty"};
    for (const auto& l : expectedLines)
        EXPECT_NE(lines.find(l), std::string::npos) << l << " not in\n" << lines;
    ASSERT_TRUE(page->press("Load"));
    ASSERT_TRUE(program->driver().waitFor(
        "return document.getElementById('dialog-title').textContent === 'Loaded 5 files'", kWait))
        << page->dialogTitle() << ": " << page->dialogText();
    shot("batch-summary");
    EXPECT_NE(page->dialogText().find("Changed: slots 3, 4, 5, 6, 7."), std::string::npos)
        << page->dialogText();
    for (int k = 3; k <= 7; ++k)
        EXPECT_NE(page->dialogText().find("Slot " + std::to_string(k) + " now holds"),
                  std::string::npos);
    ASSERT_TRUE(page->press("OK"));

    const auto memory = unitMemory();
    ASSERT_TRUE(memory);
    for (size_t i = 0; i < names.size(); ++i) {
        const auto slot = slotOfDump(*memory, int(i) + 3);
        ASSERT_TRUE(slot) << names[i];
        EXPECT_EQ(slot->file, names[i]);
        EXPECT_EQ(slot->name, names[i].substr(0, names[i].rfind('.')));
        EXPECT_TRUE(slot->words == expected[i]) << names[i] << " is not in its slot as converted";
        EXPECT_EQ(page->slotFile(int(i) + 2), names[i]);
    }
    EXPECT_EQ(memory->at("IRDATA%STATUS").substr(0, 16), "0000010101010100");
    EXPECT_EQ(program->close(), 0);
}

TEST_F(EditorWithUnit, RestoringABackupPutsBackWhatTheBackupHeld) {
    const std::string first = files + "/Erste Box.wav";
    const std::string second = files + "/Zweite Box.wav";
    const std::string third = files + "/Dritte Box.wav";
    writeWav(first, {decayingNoise(3, 0.04)});
    writeWav(second, {decayingNoise(4, 0.01)});
    writeWav(third, {decayingNoise(5, 0.02), decayingNoise(6, 0.08)});
    const std::string backupFile = files + "/unit backup.alb";

    ASSERT_TRUE(startUnit());
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    ASSERT_NO_FATAL_FAILURE(loadWav(first, 0, std::nullopt));
    ASSERT_NO_FATAL_FAILURE(loadWav(second, 1, std::nullopt));
    ASSERT_NO_FATAL_FAILURE(setSystemValue("KNOB MODE", 1));

    // Back up through the real save dialog.
    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(page->click("#backup-button"));
    ASSERT_TRUE(page->waitDialog("Back up the unit", kWait));
    EXPECT_NE(page->dialogText().find("IR slots 1 \"Erste Box\", 2 \"Zweite Box\"."),
              std::string::npos)
        << page->dialogText();
    ASSERT_TRUE(page->press("Choose file…"));
    ASSERT_TRUE(x.waitForWindow("Save File", 30000));
    program->screenCapture(name + "-save-dialog");
    ASSERT_TRUE(saveAs(x, backupFile));
    ASSERT_TRUE(page->waitDialog("Backup saved", kWait)) << page->dialogTitle();
    EXPECT_NE(page->dialogText().find(backupFile), std::string::npos) << page->dialogText();
    shot("backup-saved");
    ASSERT_TRUE(page->press("OK"));
    ASSERT_TRUE(std::filesystem::exists(backupFile));
    const auto backedUp = unitMemory();
    ASSERT_TRUE(backedUp);
    ASSERT_EQ(systemByte(*backedUp, kKnobMode), 1);

    // Another file into slot 1, slot 2 cleared, another system setting.
    ASSERT_NO_FATAL_FAILURE(loadWav(third, 0, 1));
    ASSERT_TRUE(clickSlotButton(1, "Clear"));
    ASSERT_TRUE(page->waitDialog("Clear slot 2?", kWait));
    ASSERT_TRUE(page->press("Clear"));
    ASSERT_TRUE(waitSlotState(1, 0));
    ASSERT_NO_FATAL_FAILURE(setSystemValue("KNOB MODE", 2));
    std::optional<DumpBlocks> changed;
    ASSERT_TRUE(waitUntil(
        [&] { return (changed = unitMemory()) && systemByte(*changed, kKnobMode) == 2; }, 30000));
    ASSERT_NE(changed->at("IRDATA(1)%DATA"), backedUp->at("IRDATA(1)%DATA"));
    ASSERT_NE(changed->at("IRDATA(1)%NAME"), backedUp->at("IRDATA(1)%NAME"));
    ASSERT_NE(changed->at("IRDATA(2)%DATA"), backedUp->at("IRDATA(2)%DATA"));
    shot("changed");

    // The backup handed to the program, as when opened from a file manager.
    ASSERT_EQ(program->startAgain({backupFile}), 0);
    ASSERT_TRUE(page->waitDialog("Restore this backup?", kWait)) << page->dialogTitle();
    ASSERT_TRUE(page->press("Restore"));
    ASSERT_TRUE(page->waitDialog("Backup restored", kWait))
        << page->dialogTitle() << ": " << page->dialogText();
    shot("backup-restored");
    ASSERT_TRUE(page->press("OK"));

    // Compared: every block the backup holds (the system area, both stored
    // user patches, the two loaded slots). Not compared: SETUP (the current
    // patch number, bypass and tuner are no part of a backup), the patch
    // being edited (PATCH%...: the unit's working copy, not stored), the
    // empty slots, which the backup holds as null and a restore leaves
    // alone, and IRDATA%STATUS, the unit's own verdict on its slots, checked
    // on its own below.
    const auto restored = unitMemory();
    ASSERT_TRUE(restored);
    size_t compared = 0;
    for (const auto& [id, data] : *backedUp) {
        bool covered = id.rfind("SYSTEM%", 0) == 0;
        for (const char* area : {"PATCH(1)%", "PATCH(2)%", "IRDATA(1)%", "IRDATA(2)%"})
            covered = covered || id.rfind(area, 0) == 0;
        if (!covered) continue;
        ++compared;
        ASSERT_TRUE(restored->count(id)) << id;
        EXPECT_EQ(restored->at(id), data) << id << " differs after the restore";
    }
    EXPECT_GT(compared, 8u);
    EXPECT_EQ(systemByte(*restored, kKnobMode), 1);
    EXPECT_EQ(slotOfDump(*restored, 1)->name, "Erste Box");
    EXPECT_EQ(slotOfDump(*restored, 2)->name, "Zweite Box");
    // The unit took the restored slots as loaded, and the page shows them so.
    EXPECT_EQ(restored->at("IRDATA%STATUS").substr(0, 6), "010100");
    EXPECT_TRUE(waitSlotState(0, 1));
    EXPECT_TRUE(waitSlotState(1, 1));
    EXPECT_EQ(program->close(), 0);
}

TEST_F(EditorWithUnit, AUnitThatStopsAnsweringCanBeRetriedOnceItAnswers) {
    // It answers the identity request, then nothing: the level request
    // times out.
    ASSERT_TRUE(startUnit({"--identity-only"}));
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(page->waitDialog("KX-5 connection", 60000))
        << page->linkState() << ": " << page->dialogTitle();
    EXPECT_EQ(page->dialogText(), "The unit stopped answering.");
    EXPECT_EQ(page->linkState(), "error");
    shot("stopped-answering");

    sim->signal(SIGUSR2);
    ASSERT_TRUE(waitForSimLine("faults cleared", 30000));
    ASSERT_TRUE(page->press("Retry"));
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    EXPECT_FALSE(page->dialogOpen()) << page->dialogTitle();
    shot("connected-after-retry");
    EXPECT_EQ(program->close(), 0);
}

TEST_F(EditorWithUnit, UnpluggingTheUnitShowsTheDisconnectedDialog) {
    ASSERT_TRUE(startUnit());
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();

    // Its ports go away with it.
    ASSERT_EQ(sim->stop(), 0);
    ASSERT_TRUE(page->waitDialog("KX-5 connection", 60000)) << page->linkState();
    EXPECT_EQ(page->dialogText(), "The unit was disconnected.");
    EXPECT_EQ(page->linkState(), "error");
    shot("disconnected");
    ASSERT_TRUE(page->press("Close"));

    // Plugged in again: the port is offered and Connect takes it.
    ASSERT_TRUE(startUnit());
    ASSERT_TRUE(
        program->driver().waitFor("return [...document.getElementById('port-select').options]"
                                  ".some((o) => o.textContent.startsWith('KX-5'))",
                                  60000));
    ASSERT_TRUE(page->click("#connect-button"));
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    shot("connected-again");
    EXPECT_EQ(program->close(), 0);
}

TEST_F(EditorWithUnit, LibraryRowsFoundBySearchAndDraggedOntoSlotsLoadThere) {
    const std::string pack = files + "/IR Pack";
    std::filesystem::create_directories(pack + "/Closed Back");
    writeWav(pack + "/Closed Back/Kabinett Zwei.wav", {decayingNoise(7, 0.03)});
    writeWav(pack + "/Other.wav", {decayingNoise(8, 0.06)});
    writeWav(pack + "/Raum Drei.wav", {decayingNoise(9, 0.01)});
    std::ofstream(pack + "/notes.wav") << "not audio";

    ASSERT_TRUE(startUnit());
    ASSERT_TRUE(startProgram());
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    LibraryPanel library(program->driver(), x);
    ASSERT_TRUE(library.addFolder(pack, kWait));
    ASSERT_TRUE(library.waitRows(3, kWait)) << library.status();
    EXPECT_NE(library.status().find("3 IRs · 1 skipped"), std::string::npos) << library.status();
    shot("library-folder-added");

    // Found as the name is typed; dropped on slot 2 it loads as a file does.
    ASSERT_TRUE(library.typeSearch("zwei"));
    ASSERT_TRUE(library.waitRows(1, kWait));
    EXPECT_EQ(library.rowNames(), std::vector<std::string>{"Kabinett Zwei.wav"});
    shot("library-search");
    ASSERT_TRUE(library.dragRowToSlot(0, 1));
    ASSERT_TRUE(page->waitDialog("Load into slot 2?", kWait)) << page->dialogTitle();
    ASSERT_TRUE(page->press("Load"));
    ASSERT_TRUE(program->driver().waitFor(
        "return document.getElementById('dialog-title').textContent === 'Finished'", kWait))
        << page->dialogTitle() << ": " << page->dialogText();
    ASSERT_TRUE(page->press("OK"));
    const auto firstWords = lastCoefficients("library-slot2.tmp");

    // Two rows picked together go into slots 5 and 6, one after the other.
    ASSERT_TRUE(page->click("#library-search"));
    x.pressKey("a", true);
    x.pressKey("BackSpace");
    ASSERT_TRUE(library.waitRows(3, kWait));
    EXPECT_EQ(library.rowNames(),
              (std::vector<std::string>{"Kabinett Zwei.wav", "Other.wav", "Raum Drei.wav"}));
    ASSERT_TRUE(library.clickRow(1));
    ASSERT_TRUE(library.clickRow(2, true));
    shot("library-two-selected");
    ASSERT_TRUE(library.dragRowToSlot(2, 4));
    ASSERT_TRUE(page->waitDialog("Load 2 files into slots 5–6?", kWait)) << page->dialogTitle();
    ASSERT_TRUE(page->press("Load"));
    ASSERT_TRUE(program->driver().waitFor(
        "return document.getElementById('dialog-text').textContent.includes('Slot 6 now holds')",
        kWait))
        << page->dialogTitle() << ": " << page->dialogText();
    shot("library-two-loaded");
    ASSERT_TRUE(page->press("OK"));
    const auto lastWords = lastCoefficients("library-slot6.tmp");

    const auto memory = unitMemory();
    ASSERT_TRUE(memory);
    const auto slot2 = slotOfDump(*memory, 2);
    const auto slot5 = slotOfDump(*memory, 5);
    const auto slot6 = slotOfDump(*memory, 6);
    ASSERT_TRUE(slot2 && slot5 && slot6);
    EXPECT_EQ(slot2->name, "Kabinett Zwei");
    EXPECT_EQ(slot2->file, "Kabinett Zwei.wav");
    EXPECT_EQ(slot2->words.size(), 3354u);
    EXPECT_TRUE(slot2->words == firstWords) << "slot 2 differs from its coefficient file";
    EXPECT_EQ(slot5->name, "Other");
    EXPECT_EQ(slot6->name, "Raum Drei");
    EXPECT_TRUE(slot6->words == lastWords) << "slot 6 differs from its coefficient file";
    EXPECT_FALSE(slot5->words == slot6->words);
    EXPECT_EQ(memory->at("IRDATA%STATUS").substr(0, 12), "000100000101");
    EXPECT_EQ(program->close(), 0);
}

// A DT1 the unit loses is found by the verify and sent again; a unit that
// stops answering in the middle of a load (its port still there) ends it
// with the slot marked incomplete, and when it answers again the editor
// connects by itself and finishes the load. An idle unit that stops
// answering is no longer shown as connected.
TEST_F(EditorWithUnit, LostMessagesAndAUnitThatStopsAnsweringNeverLeaveASilentHalfState) {
    const std::string first = files + "/Erste Box.wav";
    const std::string second = files + "/Brücke 2x12.wav";
    writeWav(first, {decayingNoise(7, 0.03)});
    writeWav(second, {decayingNoise(8, 0.06)});
    // The 60th DT1 into the unit's memory is lost: inside the first load's
    // coefficients.
    ASSERT_TRUE(connected({"--drop-dt1", "60"})) << page->linkState();

    ASSERT_NO_FATAL_FAILURE(loadWav(first, 0, std::nullopt));
    const auto firstWords = lastCoefficients("slot1.tmp");
    std::string dump = dumpText();
    EXPECT_EQ(statOfDump(dump, "dropped"), 1.0);
    auto slot = slotOfDump(dump, 1);
    ASSERT_TRUE(slot);
    EXPECT_TRUE(slot->words == firstWords) << "the lost message was not sent again";

    // Silent while the second file is being written: the write list goes
    // out, the verify gets no answer.
    ASSERT_TRUE(startLoad(second, 1));
    ASSERT_TRUE(page->waitProgress("Writing to the unit", 30, kWait)) << page->dialogText();
    sim->signal(SIGHUP);
    ASSERT_TRUE(waitForSimLine("silent", 30000));
    ASSERT_EQ(page->waitTransferEnd(kWait), "Loading stopped") << page->dialogText();
    EXPECT_NE(page->dialogText().find("The unit stopped answering."), std::string::npos)
        << page->dialogText();
    shot("load-stopped");
    EXPECT_EQ(page->linkState(), "silent");
    EXPECT_EQ(page->slotState(1), "incomplete");
    EXPECT_EQ(page->slotState(0), "1");
    ASSERT_TRUE(page->press("Close"));
    const auto secondWords = lastCoefficients("slot2.tmp");
    slot = slotOfDump(dumpText(), 2);
    ASSERT_TRUE(slot);
    EXPECT_FALSE(slot->words == secondWords) << "the screen says incomplete: so is the unit";

    // It answers again: connected by itself, offered the rest of the load.
    sim->signal(SIGUSR2);
    ASSERT_TRUE(page->waitDialog("The unit is back", kWait)) << page->dialogTitle();
    EXPECT_EQ(page->linkState(), "connected");
    ASSERT_TRUE(page->press("Finish"));
    ASSERT_EQ(page->waitTransferEnd(kWait), "Finished") << page->dialogText();
    shot("load-finished-after-silence");
    ASSERT_TRUE(page->press("OK"));
    const auto memory = unitMemory();
    ASSERT_TRUE(memory);
    slot = slotOfDump(*memory, 2);
    EXPECT_TRUE(slot->words == secondWords);
    EXPECT_EQ(slot->name, "Brucke 2x12");
    EXPECT_EQ(slot->name, unitSlotName("Brücke 2x12"));
    EXPECT_EQ(memory->at("IRDATA%STATUS").substr(0, 4), "0101");
    EXPECT_EQ(page->slotState(1), "1");
    EXPECT_EQ(page->slotName(1), "Brucke 2x12");

    // Idle and silent: the header stops saying connected.
    sim->signal(SIGHUP);
    ASSERT_TRUE(waitLinkState("silent", 60000)) << page->linkState();
    sim->signal(SIGUSR2);
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    EXPECT_EQ(program->close(), 0);
}

// Cancel in the middle of a write leaves the slot marked incomplete and
// says what was written; a unit unplugged in the middle of a load stops
// the progress at once, and plugged in again (with its memory) it is
// connected by itself and the load finished.
TEST_F(EditorWithUnit, ACancelledOrUnpluggedLoadIsShownAsIncompleteUntilFinished) {
    const std::string first = files + "/Dritte Box.wav";
    const std::string second = files + "/Vierte Box.wav";
    writeWav(first, {decayingNoise(9, 0.04)});
    writeWav(second, {decayingNoise(10, 0.02)});
    ASSERT_TRUE(connected()) << page->linkState();

    ASSERT_TRUE(startLoad(first, 2));
    ASSERT_TRUE(page->waitProgress("Writing to the unit", 20, kWait)) << page->dialogText();
    ASSERT_TRUE(page->press("Cancel"));
    ASSERT_TRUE(page->waitDialog("Loading cancelled", kWait)) << page->dialogTitle();
    EXPECT_NE(page->dialogText().find("Slot 3 was only partly written. Sent: "), std::string::npos)
        << page->dialogText();
    shot("load-cancelled");
    ASSERT_TRUE(page->press("Close"));
    EXPECT_EQ(page->slotState(2), "incomplete");
    auto slot = slotOfDump(dumpText(), 3);
    ASSERT_TRUE(slot);
    EXPECT_EQ(page->slotName(2), slot->name) << "the name shown is the one the unit holds";
    EXPECT_EQ(slot->name, "Dritte Box");
    EXPECT_FALSE(slot->words == lastCoefficients("slot3.tmp"));

    ASSERT_TRUE(startLoad(second, 3));
    ASSERT_TRUE(page->waitProgress("Writing to the unit", 30, kWait)) << page->dialogText();
    const std::string kept = unplugUnit();
    ASSERT_EQ(page->waitTransferEnd(kWait), "Loading stopped") << page->dialogText();
    EXPECT_NE(page->dialogText().find("The unit was disconnected."), std::string::npos)
        << page->dialogText();
    EXPECT_EQ(page->linkState(), "error");
    EXPECT_EQ(program->driver()
                  .execute("return document.getElementById('port-select').selectedOptions[0]"
                           "?.textContent ?? ''")
                  .to_str(),
              "KX-5 Sim (not connected)");
    shot("load-unplugged");
    ASSERT_TRUE(page->press("Close"));
    EXPECT_EQ(page->slotState(3), "incomplete");

    ASSERT_TRUE(startUnit({"--memory", kept}));
    ASSERT_EQ(finishWhenBack(), "Finished") << page->dialogTitle() << ": " << page->dialogText();
    ASSERT_TRUE(page->press("OK"));
    const auto memory = unitMemory();
    ASSERT_TRUE(memory);
    slot = slotOfDump(*memory, 4);
    EXPECT_TRUE(slot->words == lastCoefficients("slot4.tmp"));
    EXPECT_EQ(page->slotState(3), "1");
    EXPECT_EQ(page->slotState(2), "incomplete") << "the cancelled slot still is";
    EXPECT_EQ(program->close(), 0);
}

// A backup the unit interrupts saves nothing and says what it read; finished
// when the unit answers again, it holds exactly the slots it listed. A
// restore says what the file holds, can clear the slots the file has no
// data for, and one the unit interrupts is finished when it is back.
TEST_F(EditorWithUnit, BackupsAndRestoresAreCompleteOrSayWhatIsMissing) {
    const std::string boxed = files + "/Zweite Box.wav";
    const std::string later = files + "/Fuenfte Box.wav";
    writeWav(boxed, {decayingNoise(11, 0.03)});
    writeWav(later, {decayingNoise(12, 0.05)});
    const std::string backupFile = files + "/before the gig.alb";
    ASSERT_TRUE(connected()) << page->linkState();
    ASSERT_NO_FATAL_FAILURE(loadWav(boxed, 1, std::nullopt));
    const auto boxedWords = lastCoefficients("slot2.tmp");

    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(page->click("#backup-button"));
    ASSERT_TRUE(page->waitDialog("Back up the unit", kWait));
    EXPECT_NE(page->dialogText().find("IR slot 2 \"Zweite Box\"."), std::string::npos)
        << page->dialogText();
    ASSERT_TRUE(page->press("Choose file…"));
    ASSERT_TRUE(saveAs(x, backupFile));
    ASSERT_TRUE(page->waitProgress("Reading from the unit", 20, kWait)) << page->dialogText();
    sim->signal(SIGHUP);
    ASSERT_EQ(page->waitTransferEnd(kWait), "Backup stopped") << page->dialogText();
    EXPECT_NE(page->dialogText().find("Not read yet: slot 2. Nothing was saved."),
              std::string::npos)
        << page->dialogText();
    shot("backup-stopped");
    EXPECT_FALSE(std::filesystem::exists(backupFile));
    ASSERT_TRUE(page->press("Close"));
    sim->signal(SIGUSR2);
    ASSERT_EQ(finishWhenBack(), "Backup saved")
        << page->dialogTitle() << ": " << page->dialogText();
    EXPECT_NE(page->dialogText().find("It holds system settings, 2 user patches, IR slot 2 "
                                      "\"Zweite Box\", as listed."),
              std::string::npos)
        << page->dialogText();
    ASSERT_TRUE(page->press("OK"));
    const auto saved = readWholeFile(backupFile);
    ASSERT_TRUE(saved);
    picojson::value file;
    ASSERT_TRUE(picojson::parse(file, *saved).empty());
    const auto& slots = file.get("irData").get<picojson::array>();
    ASSERT_EQ(slots.size(), 11u);
    for (size_t k = 0; k < slots.size(); ++k)
        EXPECT_EQ(slots[k].is<picojson::object>(), k == 1) << "slot " << k + 1;

    // Slot 5 loaded since; the restore is to leave the unit as the backup.
    ASSERT_NO_FATAL_FAILURE(loadWav(later, 4, std::nullopt));
    ASSERT_TRUE(clickSlotButton(1, "Clear"));
    ASSERT_TRUE(page->waitDialog("Clear slot 2?", kWait));
    ASSERT_TRUE(page->press("Clear"));
    ASSERT_TRUE(waitSlotState(1, 0));
    ASSERT_EQ(program->startAgain({backupFile}), 0);
    ASSERT_TRUE(page->waitDialog("Restore this backup?", kWait)) << page->dialogTitle();
    EXPECT_NE(page->dialogText().find("IR slot 2 \"Zweite Box\""), std::string::npos)
        << page->dialogText();
    ASSERT_TRUE(program->driver()
                    .execute("const s = document.getElementById('restore-empty');"
                             "if (!s) return false; s.value = 'clear'; return true")
                    .evaluate_as_boolean());
    shot("restore-question");
    ASSERT_TRUE(page->press("Restore"));
    ASSERT_TRUE(page->waitProgress("Writing to the unit", 30, kWait)) << page->dialogText();
    const std::string kept = unplugUnit();
    ASSERT_EQ(page->waitTransferEnd(kWait), "Restore stopped") << page->dialogText();
    EXPECT_NE(page->dialogText().find("Cleared: slots 1, 3, 4, 5, 6, 7, 8, 9, 10, 11."),
              std::string::npos)
        << page->dialogText();
    ASSERT_TRUE(page->press("Close"));
    EXPECT_EQ(page->slotState(1), "incomplete");

    ASSERT_TRUE(startUnit({"--memory", kept}));
    ASSERT_EQ(finishWhenBack(), "Backup restored")
        << page->dialogTitle() << ": " << page->dialogText();
    shot("restore-finished");
    ASSERT_TRUE(page->press("OK"));
    const auto memory = unitMemory();
    ASSERT_TRUE(memory);
    EXPECT_EQ(memory->at("IRDATA%STATUS").substr(0, 22), "0001000000000000000000");
    const auto slot2 = slotOfDump(*memory, 2);
    EXPECT_TRUE(slot2->words == boxedWords);
    EXPECT_EQ(slot2->name, "Zweite Box");
    EXPECT_EQ(slotOfDump(*memory, 5)->name, "") << "slot 5 cleared";
    EXPECT_EQ(page->slotState(1), "1");
    EXPECT_EQ(page->slotState(4), "0");
    EXPECT_EQ(program->close(), 0);
}

// Patch edits are marked; switching patch or closing the window with them
// asks first.
TEST_F(EditorWithUnit, UnsavedPatchEditsAreMarkedAndNotLostWithoutAWord) {
    ASSERT_TRUE(connected()) << page->linkState();
    const auto edited = [&] {
        return program->driver()
            .execute("return !document.getElementById('patch-edited').hidden")
            .evaluate_as_boolean();
    };
    const auto choosePatch = [&](int n) {
        return program->driver()
            .execute("const s = document.getElementById('patch-select');"
                     "s.value = arguments[0]; s.dispatchEvent(new Event('change')); return true",
                     {picojson::value(std::to_string(n))})
            .evaluate_as_boolean();
    };
    // A slider moved with the keyboard, as a user does (real key presses).
    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    const auto nudge = [&](const std::string& label) {
        if (!page->click("#patch-editor input[type='range'][aria-label='" + label + "']"))
            return false;
        if (!x.focusWindow("KX-5 Editor")) return false;
        for (int i = 0; i < 5; ++i)
            x.pressKey("Right");
        return true;
    };
    ASSERT_TRUE(page->click("#tab-patch"));
    EXPECT_FALSE(edited());
    ASSERT_TRUE(nudge("GAIN"));
    ASSERT_TRUE(
        program->driver().waitFor("return !document.getElementById('patch-edited').hidden", 10000));
    const std::string gain = program->driver()
                                 .execute("return document.querySelector(\"#patch-editor "
                                          "input[aria-label='GAIN']\").value")
                                 .to_str();
    ASSERT_NE(gain, "50");
    shot("patch-edited");

    ASSERT_TRUE(choosePatch(1));
    ASSERT_TRUE(page->waitDialog("Unsaved patch edits", kWait));
    ASSERT_TRUE(page->press("Cancel"));
    EXPECT_TRUE(edited());
    EXPECT_EQ(
        program->driver().execute("return document.getElementById('patch-select').value").to_str(),
        "0");
    ASSERT_TRUE(choosePatch(1));
    ASSERT_TRUE(page->waitDialog("Unsaved patch edits", kWait));
    ASSERT_TRUE(page->press("Write to user patch 1"));
    ASSERT_TRUE(
        program->driver().waitFor("return document.getElementById('patch-edited').hidden", kWait));
    std::optional<DumpBlocks> memory;
    ASSERT_TRUE(waitUntil(
        [&] { return (memory = unitMemory()) && memory->at("SETUP%COMMON").substr(0, 2) == "01"; },
        30000));
    // GAIN is the third byte of the amp block.
    EXPECT_EQ(std::stoi(memory->at("PATCH(1)%AMP").substr(4, 2), nullptr, 16), std::stoi(gain));

    // Edited again, then the window is closed: it asks; Discard closes.
    ASSERT_TRUE(nudge("BASS"));
    ASSERT_TRUE(
        program->driver().waitFor("return !document.getElementById('patch-edited').hidden", 10000));
    program->process().signal(SIGTERM);
    ASSERT_TRUE(page->waitDialog("Unsaved patch edits", kWait));
    EXPECT_TRUE(program->process().running());
    shot("close-asks");
    ASSERT_TRUE(program->driver()
                    .execute("return [...document.querySelectorAll('#dialog-buttons button')]"
                             ".some((b) => b.textContent === 'Discard')")
                    .evaluate_as_boolean());
    // The click closes the program: the driver may lose its answer to it.
    page->press("Discard");
    EXPECT_EQ(program->process().waitExit(30000), 0);
}

namespace {

// A byte of a block in a memory dump (hex text of the whole block).
int dumpByte(const DumpBlocks& blocks, const std::string& block, size_t index) {
    return std::stoi(blocks.at(block).substr(2 * index, 2), nullptr, 16);
}

// GAIN is the third byte of an amp block, BASS the fourth.
constexpr size_t kGain = 2;
constexpr size_t kBass = 3;

// The blocks of one area in a dump, by their names after the area.
std::map<std::string, std::string> areaOfDump(const DumpBlocks& blocks, const std::string& area) {
    std::map<std::string, std::string> out;
    for (const auto& [id, data] : blocks)
        if (id.rfind(area + "%", 0) == 0) out[id.substr(area.size() + 1)] = data;
    return out;
}

// A block of a backup file's section, as one hex text.
std::string fileBlock(const picojson::value& section, const std::string& key) {
    std::string hex;
    for (const auto& h : section.get(key).get<picojson::array>())
        hex += h.get<std::string>();
    return hex;
}

} // namespace

// A slider dragged with the pointer is one undo step: Ctrl+Z takes the unit
// back to where the drag began, Ctrl+Y forward again; compare lets the unit
// play the stored patch and then the edited one; a patch saved to a .syx
// file, changed, and loaded back leaves the unit's patch as it was saved.
// Screenshots of the editor at three window sizes go to the artifacts.
TEST_F(EditorWithUnit, PatchEditsUndoRedoCompareAndPatchFilesFollowTheUnit) {
    const std::string patchFile = files + "/crunch lead.syx";
    ASSERT_TRUE(connected()) << page->linkState();
    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    const auto unitGain = [&] {
        const auto m = unitMemory();
        return m ? dumpByte(*m, "PATCH%AMP", kGain) : -1;
    };
    const auto shown = [&](const std::string& label) {
        return std::stoi(program->driver()
                             .execute("return document.querySelector(`#patch-editor "
                                      "[aria-label='${arguments[0]}']`).value",
                                      {picojson::value(label)})
                             .to_str());
    };
    const auto keys = [&](const char* key) {
        ASSERT_TRUE(x.focusWindow("KX-5 Editor"));
        x.pressKey(key, true);
    };
    ASSERT_TRUE(page->click("#tab-patch"));
    ASSERT_TRUE(program->driver().waitFor(
        "return document.getElementById('patch-select').options[1].textContent === '2: INIT PATCH'",
        kWait))
        << "the user patches are named once the unit said their names";
    ASSERT_EQ(unitGain(), 50);

    // One drag, from the thumb (50 of 0-120) to near the right end.
    int fromX = 0, fromY = 0, toX = 0, toY = 0;
    const std::string gain = "#patch-editor input[aria-label='GAIN']";
    ASSERT_TRUE(page->screenPoint(gain, fromX, fromY, 50.0 / 120));
    ASSERT_TRUE(page->screenPoint(gain, toX, toY, 0.85));
    x.drag(fromX, fromY, toX, toY);
    const int dragged = shown("GAIN");
    ASSERT_GT(dragged, 80);
    ASSERT_TRUE(waitUntil([&] { return unitGain() == dragged; }, 30000));
    shot("dragged");

    keys("z");
    ASSERT_TRUE(waitUntil([&] { return unitGain() == 50; }, 30000))
        << "one undo takes the whole drag back";
    EXPECT_EQ(shown("GAIN"), 50);
    keys("y");
    ASSERT_TRUE(waitUntil([&] { return unitGain() == dragged; }, 30000));
    EXPECT_EQ(shown("GAIN"), dragged);

    // Compare: the unit plays user patch 1 as stored, then the edit again.
    keys("d");
    ASSERT_TRUE(program->driver().waitFor(
        "return !document.getElementById('patch-compare-panel').hidden", kWait));
    EXPECT_EQ(program->driver()
                  .execute("return [...document.querySelectorAll('#compare-list li')]"
                           ".map((l) => l.textContent).join('|')")
                  .to_str(),
              "AMP GAIN: " + std::to_string(dragged) + " edited, 50 stored");
    ASSERT_TRUE(waitUntil([&] { return unitGain() == 50; }, 30000));
    shot("compare");
    ASSERT_TRUE(page->click("#compare-done"));
    ASSERT_TRUE(waitUntil([&] { return unitGain() == dragged; }, 30000));

    // Saved to a file through the save dialog.
    const auto saved = unitMemory();
    ASSERT_TRUE(saved);
    keys("s");
    ASSERT_TRUE(saveAs(x, patchFile));
    ASSERT_TRUE(page->waitDialog("Patch saved", kWait)) << page->dialogTitle();
    EXPECT_NE(page->dialogText().find("10 DT1 messages"), std::string::npos) << page->dialogText();
    ASSERT_TRUE(page->press("OK"));
    const auto bytes = readWholeFile(patchFile);
    ASSERT_TRUE(bytes);
    EXPECT_EQ(bytes->front(), '\xF0');
    EXPECT_EQ(bytes->back(), '\xF7');

    // Changed: bass with the keyboard, another amp type.
    ASSERT_TRUE(page->click("#patch-editor input[aria-label='BASS']"));
    ASSERT_TRUE(x.focusWindow("KX-5 Editor"));
    for (int i = 0; i < 4; ++i)
        x.pressKey("Right");
    ASSERT_TRUE(program->driver()
                    .execute("const s = document.querySelector(\"#patch-editor "
                             "select[data-param='PATCH%AMP%1']\");"
                             "s.value = '9'; s.dispatchEvent(new Event('change')); return true")
                    .evaluate_as_boolean());
    std::optional<DumpBlocks> changed;
    ASSERT_TRUE(waitUntil(
        [&] {
            return (changed = unitMemory()) && dumpByte(*changed, "PATCH%AMP", kBass) != 50 &&
                   dumpByte(*changed, "PATCH%AMP", 1) == 9;
        },
        30000));

    // Loaded back through the open dialog: the unit's patch is the saved one.
    keys("l");
    ASSERT_TRUE(openFile(x, patchFile));
    ASSERT_TRUE(page->waitDialog("Load \"INIT PATCH\"?", kWait)) << page->dialogTitle();
    ASSERT_TRUE(page->press("Load"));
    ASSERT_TRUE(page->waitDialog("Patch loaded", kWait))
        << page->dialogTitle() << ": " << page->dialogText();
    ASSERT_TRUE(page->press("OK"));
    const auto loaded = unitMemory();
    ASSERT_TRUE(loaded);
    EXPECT_EQ(areaOfDump(*loaded, "PATCH"), areaOfDump(*saved, "PATCH"));
    EXPECT_EQ(shown("BASS"), 50);

    // What went to the unit, by name, in the MIDI monitor.
    ASSERT_TRUE(page->click("#tab-monitor"));
    EXPECT_TRUE(
        program->driver().waitFor("return [...document.querySelectorAll('#monitor-log .what')]"
                                  ".some((e) => e.textContent === 'PATCH AMP GAIN = 50')",
                                  10000));
    shot("monitor");
    ASSERT_TRUE(page->click("#tab-patch"));

    // The editor at three window sizes, the patch view beside the slots.
    for (const auto& [w, h] :
         std::vector<std::pair<int, int>>{{760, 618}, {1160, 618}, {1600, 1000}}) {
        program->driver().setWindowRect(0, 0, w, h);
        shot("window-" + std::to_string(w) + "x" + std::to_string(h));
    }
    // The patch being edited is not the stored one: closing asks first.
    program->process().signal(SIGTERM);
    ASSERT_TRUE(page->waitDialog("Unsaved patch edits", kWait));
    page->press("Discard");
    EXPECT_EQ(program->process().waitExit(30000), 0);
}

// A backup opened with no unit connected (handed to the program) is edited
// with the same editors: a user patch, a system setting and a slot name;
// its slot's curve shows from the coefficients; saved as a new file; and
// once a unit is there, written into it and verified: the unit holds what
// the edited file holds.
TEST_F(EditorWithUnit, ABackupEditedWithoutTheUnitIsSavedAndWrittenIntoAUnit) {
    const std::string wav = files + "/Erste Box.wav";
    writeWav(wav, {decayingNoise(13, 0.03)});
    const std::string original = files + "/before.alb";
    const std::string edited = files + "/after editing.alb";
    ASSERT_TRUE(connected()) << page->linkState();
    ASSERT_NO_FATAL_FAILURE(loadWav(wav, 0, std::nullopt));
    X11Session x(world->display());
    ASSERT_TRUE(x.ok());
    ASSERT_TRUE(page->click("#backup-button"));
    ASSERT_TRUE(page->waitDialog("Back up the unit", kWait));
    ASSERT_TRUE(page->press("Choose file…"));
    ASSERT_TRUE(saveAs(x, original));
    ASSERT_TRUE(page->waitDialog("Backup saved", kWait)) << page->dialogTitle();
    ASSERT_TRUE(page->press("OK"));
    const auto before = unitMemory();
    ASSERT_TRUE(before);
    const auto originalText = readWholeFile(original);

    // No unit any more.
    ASSERT_EQ(sim->stop(), 0);
    ASSERT_TRUE(page->waitDialog("KX-5 connection", 60000));
    ASSERT_TRUE(page->press("Close"));
    ASSERT_EQ(program->startAgain({original}), 0);
    ASSERT_TRUE(program->driver().waitFor(
        "return !document.getElementById('offline-bar').hidden && "
        "document.getElementById('offline-name').textContent === 'before.alb'",
        kWait));

    // User patch 2's gain with the keyboard, a system setting, slot 1's name.
    ASSERT_TRUE(page->click("#tab-patch"));
    ASSERT_TRUE(program->driver()
                    .execute("const s = document.getElementById('patch-select');"
                             "s.value = '1'; s.dispatchEvent(new Event('change')); return true")
                    .evaluate_as_boolean());
    ASSERT_TRUE(page->click("#patch-editor input[aria-label='GAIN']"));
    ASSERT_TRUE(x.focusWindow("KX-5 Editor"));
    for (int i = 0; i < 6; ++i)
        x.pressKey("Right");
    const int editedGain = std::stoi(program->driver()
                                         .execute("return document.querySelector(\"#patch-editor "
                                                  "input[aria-label='GAIN']\").value")
                                         .to_str());
    ASSERT_NO_FATAL_FAILURE(setSystemValue("KNOB MODE", 2));
    ASSERT_TRUE(page->click("#slot-list li[data-slot='0'] .name"));
    ASSERT_TRUE(x.focusWindow("KX-5 Editor"));
    x.pressKey("F2");
    ASSERT_TRUE(page->waitDialog("Rename slot 1 in before.alb", kWait)) << page->dialogTitle();
    x.pressKey("a", true);
    x.typeText("Neue Box");
    x.pressKey("Return");
    ASSERT_TRUE(
        program->driver().waitFor("return document.querySelector(\"#slot-list li[data-slot='0'] "
                                  ".name span\").textContent === 'Neue Box'",
                                  10000));
    // The slot's curve, from the coefficients in the file.
    ASSERT_TRUE(page->click("#slot-list li[data-slot='0'] .name"));
    ASSERT_TRUE(program->driver().waitFor(
        "return document.getElementById('preview-name').textContent === 'Slot 1: Neue Box'",
        10000));
    EXPECT_TRUE(program->driver()
                    .execute("return !document.getElementById('offline-edited').hidden")
                    .evaluate_as_boolean());
    shot("backup-offline");

    // Saved as a new file (the name typed over the proposed one).
    ASSERT_TRUE(page->click("#offline-save"));
    ASSERT_TRUE(saveAs(x, edited));
    ASSERT_TRUE(page->waitDialog("Backup saved", kWait)) << page->dialogTitle();
    ASSERT_TRUE(page->press("OK"));
    const auto text = readWholeFile(edited);
    ASSERT_TRUE(text);
    picojson::value file;
    ASSERT_TRUE(picojson::parse(file, *text).empty());
    const auto& patch2 = file.get("userPatch").get<picojson::array>()[1];
    const int gain = std::stoi(fileBlock(patch2, "PATCH%AMP").substr(2 * kGain, 2), nullptr, 16);
    EXPECT_EQ(gain, editedGain);
    EXPECT_NE(gain, 50);
    EXPECT_EQ(std::stoi(fileBlock(file.get("system"), "SYSTEM%COMMON").substr(2 * kKnobMode, 2),
                        nullptr, 16),
              2);
    EXPECT_EQ(readWholeFile(original), originalText) << "the file opened stays as it was";

    // A unit (with its memory as it came from the factory) is plugged in.
    ASSERT_TRUE(startUnit());
    ASSERT_TRUE(page->waitConnected(kWait)) << page->linkState();
    ASSERT_TRUE(page->click("#offline-write"));
    ASSERT_TRUE(page->waitDialog("Restore this backup?", kWait)) << page->dialogTitle();
    EXPECT_NE(page->dialogText().find("IR slot 1 \"Neue Box\""), std::string::npos)
        << page->dialogText();
    ASSERT_TRUE(page->press("Restore"));
    ASSERT_TRUE(page->waitDialog("Backup restored", kWait))
        << page->dialogTitle() << ": " << page->dialogText();
    ASSERT_TRUE(page->press("OK"));

    // The unit holds the edited file: system, both user patches and slot 1
    // (its coefficients as the first unit held them).
    const auto after = unitMemory();
    ASSERT_TRUE(after);
    size_t compared = 0;
    for (const auto& [key, value] : file.get("system").get<picojson::object>()) {
        EXPECT_EQ(after->at(key), fileBlock(file.get("system"), key)) << key;
        ++compared;
    }
    for (size_t p = 0; p < 2; ++p) {
        const auto& section = file.get("userPatch").get<picojson::array>()[p];
        for (const auto& [key, value] : section.get<picojson::object>()) {
            const std::string id = "PATCH(" + std::to_string(p + 1) + ")" + key.substr(5);
            EXPECT_EQ(after->at(id), fileBlock(section, key)) << id;
            ++compared;
        }
    }
    const auto& slot1 = file.get("irData").get<picojson::array>()[0];
    for (const char* part : {"NAME", "SIZE", "FILE"})
        EXPECT_EQ(after->at(std::string("IRDATA(1)%") + part),
                  fileBlock(slot1, std::string("IRDATA%") + part))
            << part;
    EXPECT_EQ(after->at("IRDATA(1)%DATA"), before->at("IRDATA(1)%DATA"));
    EXPECT_GT(compared, 20u);
    EXPECT_EQ(dumpByte(*after, "PATCH(2)%AMP", kGain), editedGain);
    EXPECT_EQ(slotOfDump(*after, 1)->name, "Neue Box");
    EXPECT_EQ(after->at("IRDATA%STATUS").substr(0, 2), "01");

    // Closed, the editors show the unit again.
    ASSERT_TRUE(page->click("#offline-close"));
    ASSERT_TRUE(
        program->driver().waitFor("return document.getElementById('offline-bar').hidden", 10000));
    EXPECT_EQ(page->slotName(0), "Neue Box");
    EXPECT_EQ(program->close(), 0);
}
