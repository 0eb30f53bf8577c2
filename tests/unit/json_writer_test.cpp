#include "core/json.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

namespace mivora::core {
namespace {

TEST(JSONWriter, PrettySortsKeysAtEveryLevelWithPlatformSpacing) {
    Json value;
    value["zeta"] = 1;
    value["alpha"] = Json::object();
    value["alpha"]["y"] = true;
    value["alpha"]["b"] = "x";
    value["list"] = Json::array({1, Json{{"k", 2}, {"a", 1}}});
    EXPECT_EQ(writeJSON(value, JSONStyle::pretty), "{\n"
                                                   "  \"alpha\" : {\n"
                                                   "    \"b\" : \"x\",\n"
                                                   "    \"y\" : true\n"
                                                   "  },\n"
                                                   "  \"list\" : [\n"
                                                   "    1,\n"
                                                   "    {\n"
                                                   "      \"a\" : 1,\n"
                                                   "      \"k\" : 2\n"
                                                   "    }\n"
                                                   "  ],\n"
                                                   "  \"zeta\" : 1\n"
                                                   "}");
}

TEST(JSONWriter, CompactKeepsOrderAndEscapesSlashes) {
    Json value;
    value["path"] = "/Applications/Notes.app";
    value["a"] = "caf\xC3\xA9 \"q\" \\ \n";
    EXPECT_EQ(writeJSON(value, JSONStyle::compact),
              "{\"path\":\"\\/Applications\\/Notes.app\",\"a\":\"caf\xC3\xA9 \\\"q\\\" \\\\ \\n\"}");
    // A reader gets the path back unchanged.
    EXPECT_EQ(Json::parse(writeJSON(value, JSONStyle::compact))["path"], "/Applications/Notes.app");
}

TEST(JSONWriter, IllFormedTextIsRepairedInValuesAndKeys) {
    Json value;
    value["name\xFF"] = std::string("a\xC3") + "/b";
    std::string written = writeJSON(value, JSONStyle::compact);
    EXPECT_EQ(written, "{\"name\xEF\xBF\xBD\":\"a\xEF\xBF\xBD\\/b\"}");
    EXPECT_EQ(Json::parse(written)["name\xEF\xBF\xBD"], "a\xEF\xBF\xBD/b");
}

TEST(JSONWriter, EmptyContainersAndNumbers) {
    Json value;
    value["apps"] = Json::array();
    value["none"] = Json::object();
    value["count"] = 0;
    value["date"] = 786012345.25;
    value["whole"] = 2.0;
    EXPECT_EQ(writeJSON(value, JSONStyle::pretty),
              "{\n  \"apps\" : [],\n  \"count\" : 0,\n  \"date\" : 786012345.25,\n  \"none\" : {},\n"
              "  \"whole\" : 2\n}");
}

TEST(JSONWriter, NonFiniteNumberIsAnError) {
    Json value;
    value["x"] = std::numeric_limits<double>::infinity();
    EXPECT_THROW(writeJSON(value, JSONStyle::pretty), JSONEncodingError);
}

struct Reply {
    std::optional<std::string> bundleId;
    Json toJson() const {
        Json json;
        json["name"] = "Tool";
        setOptional(json, "bundleId", bundleId);
        return json;
    }
};

TEST(JSONWriter, AbsentOptionalLeavesKeyOut) {
    EXPECT_EQ(writeJSON(Reply{}.toJson(), JSONStyle::pretty), "{\n  \"name\" : \"Tool\"\n}");
    EXPECT_EQ(writeJSON(Reply{"com.x"}.toJson(), JSONStyle::pretty),
              "{\n  \"bundleId\" : \"com.x\",\n  \"name\" : \"Tool\"\n}");
}

} // namespace
} // namespace mivora::core
