// The main job without a display: the editor under Xvfb on its simulated
// KX-5, a WAV file handed to it and loaded into slot 1 the way a user does
// it, screenshots of each step, then a check that the unit holds the slot
// name, the file name and exactly the words of the coefficient file.
//
//   kx5_main_job_session IR.wav OUTPUT-FOLDER
#include "tests/host/e2e/editor_page.h"
#include "tests/host/e2e/program_under_test.h"

#include <picojson.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kx5::e2e;

constexpr int kCoefficientWords = 3354;
constexpr int kWait = 90000;

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<uint8_t> bytesOfHex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

struct SlotImage {
    std::string name;
    std::string file;
    std::vector<uint32_t> words;
};

// Slot k (1-based) as the unit's memory dump holds it: name bytes, the file
// name's byte count in four 4-bit digits, one byte per two digits of the
// file name, eight 4-bit digits per word.
std::optional<SlotImage> slotFromDump(const std::string& json, int k) {
    picojson::value dump;
    if (!picojson::parse(dump, json).empty() || !dump.is<picojson::object>()) return std::nullopt;
    const picojson::value& blocks = dump.get("blocks");
    const std::string id = "IRDATA(" + std::to_string(k) + ")%";
    for (const char* part : {"NAME", "SIZE", "FILE", "DATA"})
        if (!blocks.get(id + part).is<std::string>()) return std::nullopt;
    SlotImage slot;
    for (uint8_t c : bytesOfHex(blocks.get(id + "NAME").to_str()))
        slot.name.push_back(static_cast<char>(c));
    slot.name.erase(slot.name.find_last_not_of(' ') + 1);
    unsigned size = 0;
    for (uint8_t digit : bytesOfHex(blocks.get(id + "SIZE").to_str()))
        size = size * 16 + (digit & 0x0f);
    const auto file = bytesOfHex(blocks.get(id + "FILE").to_str());
    for (size_t i = 0; i + 1 < file.size() && slot.file.size() < size; i += 2)
        slot.file.push_back(static_cast<char>(((file[i] & 0x0f) << 4) | (file[i + 1] & 0x0f)));
    const auto data = bytesOfHex(blocks.get(id + "DATA").to_str());
    for (size_t i = 0; i + 7 < data.size(); i += 8) {
        uint32_t w = 0;
        for (size_t j = 0; j < 8; ++j)
            w = (w << 4) | (data[i + j] & 0x0f);
        slot.words.push_back(w);
    }
    return slot;
}

std::vector<uint32_t> wordsOfCoefficientFile(const std::string& bytes) {
    std::vector<uint32_t> words;
    for (size_t i = 0; i + 3 < bytes.size(); i += 4) {
        const auto b = [&](size_t j) {
            return static_cast<uint32_t>(static_cast<uint8_t>(bytes[i + j]));
        };
        words.push_back(b(0) | (b(1) << 8) | (b(2) << 16) | (b(3) << 24));
    }
    return words;
}

int fail(const std::string& why) {
    std::cout << "main job: FAILED: " << why << std::endl;
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::cerr << "usage: " << argv[0] << " IR.wav OUTPUT-FOLDER\n";
        return 2;
    }
    const std::string wav = std::filesystem::absolute(argv[1]).string();
    const std::string out = std::filesystem::absolute(argv[2]).string();
    const std::string fileName = std::filesystem::path(wav).filename().string();
    const std::string expectedName = std::filesystem::path(wav).stem().string();

    TestWorld world(out);
    if (!world.ok()) return fail("no virtual display or session bus (see " + out + ")");
    TestHome home;
    const std::string dumpPath = out + "/simulated-unit.json";
    std::filesystem::remove(dumpPath);
    ProgramOptions options;
    options.testBundle = false;
    options.arguments = {"--simulated-unit-dump", dumpPath};
    std::optional<SlotImage> slot;
    std::string coefficients;
    {
        ProgramUnderTest program(world, home, "program", options);
        if (!program.ready())
            return fail("the window did not come up (see " + out + "/program.log)");
        EditorPage page(program.driver());
        // The view draws a moment after the page changed.
        const auto shot = [&](const std::string& name) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            program.screenshot(name);
        };
        if (!page.waitConnected(kWait)) return fail("no connection to the simulated unit");
        std::cout << "main job: the editor is connected to the simulated KX-5" << std::endl;
        shot("1-connected");

        // As if the file were opened with the program from a file manager.
        if (program.startAgain({wav}) != 0) return fail("the file could not be handed over");
        if (!page.waitDialog("Load into which slot?", kWait)) return fail("no slot question");
        shot("2-choose-slot");
        const std::string end = page.loadHandedFile(0, std::nullopt, kWait);
        shot("3-loaded");
        if (end != "Finished")
            return fail("the load ended with \"" + end + "\": " + page.dialogText());
        std::cout << "main job: page says: " << page.dialogText() << std::endl;
        page.press("OK");
        shot("4-slots");

        const auto coef = readFile(home.path() + "/tmp/velmar-" + std::to_string(getuid()) +
                                   "-kx5-editor/VLM00000.tmp");
        if (!coef) return fail("no coefficient file from the conversion");
        coefficients = *coef;
        std::ofstream(out + "/VLM00000.tmp", std::ios::binary) << coefficients;
        if (program.close() != 0) return fail("the program did not end cleanly");
    }
    // The simulated unit writes its memory when the program ends.
    const auto dump = readFile(dumpPath);
    if (!dump) return fail("no memory dump of the simulated unit");
    slot = slotFromDump(*dump, 1);
    if (!slot) return fail("the memory dump has no slot 1");

    const auto expected = wordsOfCoefficientFile(coefficients);
    const bool nameOk = slot->name == expectedName;
    const bool fileOk = slot->file == fileName;
    const bool wordsOk = expected.size() == kCoefficientWords && slot->words == expected;
    std::cout << "main job: coefficient file: " << coefficients.size() << " bytes, "
              << expected.size() << " words" << std::endl;
    std::cout << "main job: slot 1 of the unit: name \"" << slot->name << "\" "
              << (nameOk ? "(matches)" : "(expected \"" + expectedName + "\")") << ", file name \""
              << slot->file << "\" " << (fileOk ? "(matches)" : "(differs)") << std::endl;
    size_t same = 0;
    for (size_t i = 0; i < expected.size() && i < slot->words.size(); ++i)
        same += expected[i] == slot->words[i];
    std::cout << "main job: " << same << " of " << expected.size()
              << " words in the unit equal the coefficient file" << std::endl;
    std::cout << "main job: screenshots in " << out << std::endl;
    if (!nameOk || !fileOk || !wordsOk) return fail("the unit does not hold what was loaded");
    std::cout << "main job: OK" << std::endl;
    return 0;
}
