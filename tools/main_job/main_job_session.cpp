// The main job without a display: the editor under Xvfb on its simulated
// KX-5, a WAV file handed to it and loaded into slot 1 the way a user does
// it, screenshots of each step, then a check that the unit holds the slot
// name, the file name and exactly the words of the coefficient file.
//
//   kx5_main_job_session IR.wav OUTPUT-FOLDER
#include "tests/host/e2e/editor_page.h"
#include "tests/host/e2e/program_under_test.h"
#include "tests/host/e2e/unit_dump.h"
#include "tests/host/e2e/unit_name.h"

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace kx5::e2e;

constexpr int kCoefficientWords = 3354;
constexpr int kWait = 90000;

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
    // As the unit holds it: accents dropped, printable ASCII, 32 characters.
    const std::string expectedName = unitSlotName(std::filesystem::path(wav).stem().string());

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
        // The other views, for whoever looks at the screenshots.
        for (const auto& [tab, name] : {std::pair{"#tab-patch", "5-patch-editor"},
                                        {"#tab-system", "6-system-editor"},
                                        {"#tab-monitor", "7-midi-monitor"}})
            if (page.click(tab)) shot(name);

        const auto coef = readWholeFile(home.temporaryFolder() + "VLM00000.tmp");
        if (!coef) return fail("no coefficient file from the conversion");
        coefficients = *coef;
        std::ofstream(out + "/VLM00000.tmp", std::ios::binary) << coefficients;
        if (program.close() != 0) return fail("the program did not end cleanly");
    }
    // The simulated unit writes its memory when the program ends.
    const auto dump = readWholeFile(dumpPath);
    if (!dump) return fail("no memory dump of the simulated unit");
    slot = slotOfDump(*dump, 1);
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
