#include "core/json.h"

#include <algorithm>
#include <cmath>
#include <functional>
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

// Drives the streaming writer through a tree, keys in sorted order.
void stream(PrettyJSONWriter& out, const Json& value) {
    switch (value.type()) {
    case Json::value_t::object: {
        std::vector<std::string> keys;
        for (auto it = value.begin(); it != value.end(); ++it)
            keys.push_back(it.key());
        std::sort(keys.begin(), keys.end());
        out.beginObject();
        for (const auto& key : keys) {
            out.key(key);
            stream(out, value.at(key));
        }
        out.endObject();
        break;
    }
    case Json::value_t::array:
        out.beginArray();
        for (const auto& item : value)
            stream(out, item);
        out.endArray();
        break;
    case Json::value_t::boolean:
        out.value(value.get<bool>());
        break;
    case Json::value_t::string:
        out.value(value.get_ref<const std::string&>());
        break;
    default:
        out.value(value.get<int64_t>());
    }
}

TEST(PrettyJSONWriter, WritesTheBytesOfTheTreeWriter) {
    const Json documents[] = {
        Json::parse(R"({"apps": [], "count": 0, "source": "applications"})"),
        Json::parse(R"({"apps": [{"path": "/A/B.app", "name": "B", "bundleId": "x.y",
                        "dockIconControlledByApp": false}, {"name": "C", "path": "/C.app",
                        "dockIconControlledByApp": true}], "source": "dock", "count": 2})"),
        Json::parse(R"({"z": {}, "a": [[], {}, [1, -2, [true]], {"k": {"j": "v"}}], "B": "\"q\"\t\u0001/"})"),
        Json::parse(R"([1, "two", false])"),
        Json::parse(R"("alone")"),
        Json{{"name\xFF", std::string("a\xC3/b")}},
    };
    for (const auto& document : documents) {
        PrettyJSONWriter out;
        stream(out, document);
        EXPECT_EQ(out.text(), writeJSON(document, JSONStyle::pretty)) << document.dump();
    }
}

TEST(PrettyJSONWriter, RefusesWhatWouldNotBeOneWellFormedDocument) {
    const std::pair<const char*, std::function<void(PrettyJSONWriter&)>> cases[] = {
        {"keys out of order",
         [](PrettyJSONWriter& out) {
             out.beginObject();
             out.member("name", "x");
             out.member("bundleId", "y");
         }},
        {"a key twice",
         [](PrettyJSONWriter& out) {
             out.beginObject();
             out.member("a", 1);
             out.member("a", 2);
         }},
        {"a value without its key",
         [](PrettyJSONWriter& out) {
             out.beginObject();
             out.value(true);
         }},
        {"a key in an array",
         [](PrettyJSONWriter& out) {
             out.beginArray();
             out.key("a");
         }},
        {"a key without its value",
         [](PrettyJSONWriter& out) {
             out.beginObject();
             out.key("a");
             out.endObject();
         }},
        {"the wrong bracket",
         [](PrettyJSONWriter& out) {
             out.beginArray();
             out.endObject();
         }},
        {"two documents",
         [](PrettyJSONWriter& out) {
             out.value(1);
             out.value(2);
         }},
    };
    for (const auto& [title, misuse] : cases) {
        PrettyJSONWriter out;
        EXPECT_THROW(misuse(out), JSONEncodingError) << title;
    }
}

} // namespace
} // namespace mivora::core
