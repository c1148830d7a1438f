// The JSON form of endpoint records: key order, escaping, reading rules.
#include "midi/midi_endpoint_record.h"

#include <gtest/gtest.h>

using namespace kx5;

TEST(EndpointRecords, WrittenWithSortedKeysAndNoSpaces) {
    const MIDIEndpointRecord r{"KX-5", "KX-5", "KX-5jack:kx:out", "jack:kx:out"};
    EXPECT_EQ(midiEndpointToJson(r),
              R"({"MIDIDeviceNameKey":"KX-5","MIDIEndpointIndexKey":"jack:kx:out",)"
              R"("MIDIEndpointUIDKey":"KX-5jack:kx:out","MIDIEntityNameKey":"KX-5"})");
    EXPECT_EQ(midiEndpointsToJson({}), "[]");
    EXPECT_EQ(midiEndpointsToJson({r, r}).front(), '[');
    EXPECT_EQ(midiEndpointFromJson(midiEndpointToJson(r)), r);
}

TEST(EndpointRecords, QuotesBackslashesAndUnicodeRoundTrip) {
    const MIDIEndpointRecord r{"My \"Amp\" \\ 1", "é/ü", "\x01tab\there", "línea\nnueva"};
    const std::string json = midiEndpointToJson(r);
    EXPECT_NE(json.find(R"(My \"Amp\" \\ 1)"), std::string::npos);
    EXPECT_EQ(midiEndpointFromJson(json), r);
    EXPECT_EQ(midiEndpointFromJson(midiEndpointsToJson({r}).substr(1, json.size())), r);
}

TEST(EndpointRecords, ReadingAcceptsExtraMembersAndRefusesWrongShapes) {
    const std::string extra =
        R"({"MIDIDeviceNameKey":"a","MIDIEntityNameKey":"b","MIDIEndpointUIDKey":"c",)"
        R"("MIDIEndpointIndexKey":"d","selected":true})";
    EXPECT_EQ(midiEndpointFromJson(extra), (MIDIEndpointRecord{"a", "b", "c", "d"}));

    for (const std::string bad :
         {R"({"MIDIDeviceNameKey":"a","MIDIEntityNameKey":"b","MIDIEndpointUIDKey":"c",)"
          R"("MIDIEndpointIndexKey":3})",
          R"({"MIDIDeviceNameKey":"a","MIDIEntityNameKey":"b","MIDIEndpointUIDKey":"c"})",
          R"({"MIDIDeviceNameKey":null,"MIDIEntityNameKey":"b","MIDIEndpointUIDKey":"c",)"
          R"("MIDIEndpointIndexKey":"d"})",
          "[1,2]", "\"text\"", "not json at all", "", "{"}) {
        EXPECT_THROW(midiEndpointFromJson(bad), std::runtime_error) << bad;
    }
}
