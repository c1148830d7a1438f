// Searching a library of known files: words, filters, orders, similarity.
#include "tests/library/library_fixture.h"

using namespace kx5;
using namespace kx5::test;

namespace {

// Low-passes at known cut-offs (brightness rises with the cut-off), one
// high-pass, in several rates, lengths and channel counts.
class LibrarySearch : public LibraryTest {
  protected:
    void SetUp() override {
        const auto put = [&](const std::string& relative, double cutoff, uint32_t rate,
                             double seconds, uint16_t channels = 1, bool highPass = false) {
            writeIr(files() + "/" + relative, pcm(rate, 24, channels),
                    filterResponse(cutoff, rate, size_t(rate * seconds), highPass));
        };
        put("Mesa/4x12 V30 SM57 cap.wav", 1000, 48000, 0.2);
        put("Mesa/4x12 V30 R121 edge.wav", 1200, 48000, 0.5, 2);
        put("Marshall/1960 Greenback.wav", 2000, 44100, 0.1);
        put("Marshall/Über Box.wav", 4000, 96000, 0.3);
        put("Fizz/High pass 50% blend.wav", 3000, 48000, 0.05, 1, true);
        openLibrary();
        ASSERT_TRUE(library->addFolder(files()));
        ASSERT_EQ(number(scanned(), "files"), 5);
    }
    std::string path(const std::string& relative) const { return files() + "/" + relative; }
};

const std::vector<std::string> kByName{"1960 Greenback.wav", "4x12 V30 R121 edge.wav",
                                       "4x12 V30 SM57 cap.wav", "High pass 50% blend.wav",
                                       "Über Box.wav"};

} // namespace

TEST_F(LibrarySearch, EveryWordMustAppearInTheFolderTheNameOrTheTags) {
    EXPECT_EQ(names(R"({"text":""})"), kByName);
    EXPECT_EQ(names(R"({"text":"v30"})"),
              (std::vector<std::string>{"4x12 V30 R121 edge.wav", "4x12 V30 SM57 cap.wav"}));
    EXPECT_EQ(names(R"({"text":"MESA  sm57"})"), std::vector<std::string>{"4x12 V30 SM57 cap.wav"});
    // Folder names count; case and accents do not.
    EXPECT_EQ(names(R"({"text":"marshall"})"),
              (std::vector<std::string>{"1960 Greenback.wav", "Über Box.wav"}));
    EXPECT_EQ(names(R"({"text":"uber"})"), std::vector<std::string>{"Über Box.wav"});
    EXPECT_EQ(names(R"({"text":"ÜBER"})"), std::vector<std::string>{"Über Box.wav"});
    // The extension is no part of the name searched.
    EXPECT_EQ(names(R"({"text":"wav"})"), std::vector<std::string>{});
    // Pattern characters are plain characters.
    EXPECT_EQ(names(R"({"text":"50%"})"), std::vector<std::string>{"High pass 50% blend.wav"});
    EXPECT_EQ(names(R"({"text":"_"})"), std::vector<std::string>{});

    ASSERT_TRUE(library->setTags(path("Marshall/1960 Greenback.wav"), {"Vintage", "crunch"}));
    EXPECT_EQ(names(R"({"text":"vintage"})"), std::vector<std::string>{"1960 Greenback.wav"});
    EXPECT_EQ(names(R"({"text":"crunch marshall"})"),
              std::vector<std::string>{"1960 Greenback.wav"});
}

TEST_F(LibrarySearch, FiltersByRateChannelsLengthAndFavourites) {
    EXPECT_EQ(names(R"({"rate":48000})"),
              (std::vector<std::string>{"4x12 V30 R121 edge.wav", "4x12 V30 SM57 cap.wav",
                                        "High pass 50% blend.wav"}));
    EXPECT_EQ(names(R"({"channels":2})"), std::vector<std::string>{"4x12 V30 R121 edge.wav"});
    EXPECT_EQ(names(R"({"minLength":150,"maxLength":400})"),
              (std::vector<std::string>{"4x12 V30 SM57 cap.wav", "Über Box.wav"}));
    EXPECT_EQ(names(R"({"rate":48000,"maxLength":100})"),
              std::vector<std::string>{"High pass 50% blend.wav"});
    EXPECT_EQ(names(R"({"favourites":true})"), std::vector<std::string>{});
    ASSERT_TRUE(library->setFavourite(path("Marshall/Über Box.wav"), true));
    ASSERT_TRUE(library->setFavourite(path("Mesa/4x12 V30 SM57 cap.wav"), true));
    ASSERT_TRUE(library->setFavourite(path("Mesa/4x12 V30 SM57 cap.wav"), false));
    EXPECT_EQ(names(R"({"favourites":true})"), std::vector<std::string>{"Über Box.wav"});
}

TEST_F(LibrarySearch, OrdersByNameLengthAndBrightnessEitherWay) {
    std::vector<std::string> reversed(kByName.rbegin(), kByName.rend());
    EXPECT_EQ(names(R"({"sort":"name","descending":true})"), reversed);
    EXPECT_EQ(names(R"({"sort":"length"})"),
              (std::vector<std::string>{"High pass 50% blend.wav", "1960 Greenback.wav",
                                        "4x12 V30 SM57 cap.wav", "Über Box.wav",
                                        "4x12 V30 R121 edge.wav"}));
    const std::vector<std::string> darkFirst{"4x12 V30 SM57 cap.wav", "4x12 V30 R121 edge.wav",
                                             "1960 Greenback.wav", "Über Box.wav",
                                             "High pass 50% blend.wav"};
    EXPECT_EQ(names(R"({"sort":"brightness"})"), darkFirst);
    EXPECT_EQ(names(R"({"sort":"brightness","descending":true})"),
              std::vector<std::string>(darkFirst.rbegin(), darkFirst.rend()));
}

TEST_F(LibrarySearch, SimilarityOrdersByTheDistanceOfTheCurves) {
    const std::string query =
        picojson::value(
            picojson::object{{"sort", picojson::value("similar")},
                             {"similar", picojson::value(path("Mesa/4x12 V30 SM57 cap.wav"))}})
            .serialize();
    EXPECT_EQ(names(query), (std::vector<std::string>{
                                "4x12 V30 SM57 cap.wav", "4x12 V30 R121 edge.wav",
                                "1960 Greenback.wav", "Über Box.wav", "High pass 50% blend.wav"}));
    int last = -1;
    const picojson::object result = search(query);
    for (const auto& row : result.at("rows").get<picojson::array>()) {
        const int d = int(row.get("distance").get<double>());
        EXPECT_GE(d, last);
        if (last < 0) {
            EXPECT_EQ(d, 0);
        }
        last = d;
    }
    // Without a reference in the library the order is by name.
    EXPECT_EQ(names(R"({"sort":"similar","similar":"/nowhere.wav"})"), kByName);
}

TEST_F(LibrarySearch, RowsComeInPagesWithTheirFacts) {
    auto page = search(R"({"limit":2,"offset":3})");
    EXPECT_EQ(number(page, "total"), 5);
    EXPECT_EQ(number(page, "offset"), 3);
    const auto& rows = page["rows"].get<picojson::array>();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].get("name").get<std::string>(), "High pass 50% blend.wav");

    auto one =
        parseJson(library->entry(path("Mesa/4x12 V30 R121 edge.wav"))).get<picojson::object>();
    EXPECT_EQ(one["folder"].get<std::string>(), "irs/Mesa");
    EXPECT_EQ(one["format"].get<std::string>(), "wav-pcm");
    EXPECT_EQ(number(one, "rate"), 48000);
    EXPECT_EQ(number(one, "bits"), 24);
    EXPECT_EQ(number(one, "channels"), 2);
    EXPECT_EQ(number(one, "frames"), 24000);
    EXPECT_EQ(number(one, "length"), 500);
    // 64 points, two hex digits each: twice the dB below the peak.
    const std::string thumb = one["thumb"].get<std::string>();
    ASSERT_EQ(thumb.size(), 128u);
    std::vector<int> below;
    for (size_t i = 0; i < thumb.size(); i += 2)
        below.push_back(std::stoi(thumb.substr(i, 2), nullptr, 16));
    EXPECT_EQ(*std::min_element(below.begin(), below.end()), 0);
    EXPECT_LE(*std::max_element(below.begin(), below.end()), 180);
    // A low-pass at 1.2 kHz is flat below it and falls far by 20 kHz.
    EXPECT_LE(below[10], 2);
    EXPECT_GT(below[63], 40);

    EXPECT_THROW(SearchQuery::fromJson("[1]"), std::invalid_argument);
    EXPECT_THROW(SearchQuery::fromJson(R"({"rate":"48000"})"), std::invalid_argument);
    EXPECT_THROW(SearchQuery::fromJson(R"({"sort":"colour"})"), std::invalid_argument);
    EXPECT_THROW(SearchQuery::fromJson(R"({"limit":-1})"), std::invalid_argument);
}
