#include "store.h"

#include <gtest/gtest.h>

namespace quorvi::standin {
namespace {

using mcp::Json;

const char kToken[] = "secret";

// One request through the whole answer path, as the connection would carry it.
Json ask(Store& store, const std::string& operation, const Json& arguments,
         const Json& scope = {{"excludeTags", Json::array()}, {"onlyTags", Json::array()}}) {
  Json request = {
      {"arguments", arguments}, {"operation", operation}, {"scope", scope}, {"token", kToken}};
  return answer(store, mcp::write(request), kToken);
}

Json json(const char* text) {
  return mcp::parse(text).value();
}

std::string error_of(const Json& answer) {
  return answer.contains("error") ? answer["error"].get<std::string>() : "no error";
}

TEST(StandinStore, SplitsTags) {
  struct Case {
    const char* text;
    std::vector<std::string> tags;
  } cases[] = {
      {"", {}},
      {"a,b", {"a", "b"}},
      {" #Work# , ,##later", {"Work", "later"}},
      {"Work,work,WORK", {"Work"}},
      {"to do,# spaced", {"to do", " spaced"}},
      {"ÉTÉ,été", {"ÉTÉ"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(split_tags(c.text), c.tags) << c.text;
}

TEST(StandinStore, VisibilityFollowsBothLists) {
  Note note;
  note.tags = {"Work", "ÉTÉ"};
  struct Case {
    Scope scope;
    bool visible;
  } cases[] = {
      {{}, true},
      {{{"work"}, {}}, true},
      {{{"été"}, {}}, true},
      {{{"home", "work"}, {}}, true},
      {{{"home"}, {}}, false},
      {{{}, {"work"}}, false},
      {{{"work"}, {"été"}}, false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(visible(note, c.scope), c.visible);
}

TEST(StandinStore, RefusesBadRequests) {
  Store store;
  EXPECT_EQ(error_of(answer(store, "not json", kToken)), "Invalid request");
  EXPECT_EQ(error_of(answer(store, "[]", kToken)), "Invalid request");
  EXPECT_EQ(error_of(answer(store, R"({"operation":"tags"})", kToken)), "Unauthorized");
  EXPECT_EQ(error_of(answer(store, R"({"operation":"tags","token":"secreT"})", kToken)),
            "Unauthorized");
  EXPECT_EQ(error_of(answer(store,
                            R"({"operation":"tags","scope":{"onlyTags":[1]},)"
                            R"("token":"secret"})",
                            kToken)),
            "Invalid request");
  EXPECT_EQ(
      error_of(answer(store, R"({"arguments":[],"operation":"tags","token":"secret"})", kToken)),
      "Invalid arguments");
  EXPECT_EQ(error_of(ask(store, "ping", Json::object())), "Unknown operation: ping");
  EXPECT_EQ(error_of(ask(store, "read", {{"id", 1}})), "Missing or invalid argument: id");
  EXPECT_EQ(error_of(ask(store, "search", {{"limit", 0}})), "Missing or invalid argument: limit");
  EXPECT_EQ(error_of(ask(store, "search", {{"offset", -1}})),
            "Missing or invalid argument: offset");
  EXPECT_EQ(error_of(ask(store, "pin", {{"id", "note-1"}})),
            "Missing or invalid argument: enabled");
}

TEST(StandinStore, SearchPagesAndLeavesTrashOut) {
  Store store;
  for (int i = 1; i <= 5; ++i)
    ask(store, "create", {{"text", "note " + std::to_string(i)}});
  ask(store, "trash", {{"id", "note-2"}, {"enabled", true}});
  Json page = ask(store, "search", {{"offset", 1}, {"limit", 2}})["result"];
  EXPECT_EQ(page["total"], 4);
  ASSERT_EQ(page["notes"].size(), 2u);
  EXPECT_EQ(page["notes"][0]["id"], "note-3");
  EXPECT_EQ(page["notes"][1]["id"], "note-4");
  EXPECT_EQ(ask(store, "search", {{"includeTrash", true}})["result"]["total"], 5);
  EXPECT_EQ(ask(store, "search", {{"query", "NOTE 5"}})["result"]["total"], 1);
}

TEST(StandinStore, TrashedNotesCanOnlyBeRestored) {
  Store store;
  ask(store, "create", {{"text", "x"}});
  ask(store, "trash", {{"id", "note-1"}, {"enabled", true}});
  EXPECT_EQ(error_of(ask(store, "append", {{"id", "note-1"}, {"text", "y"}})), "Note is in Trash");
  EXPECT_EQ(ask(store, "trash", {{"id", "note-1"}, {"enabled", false}})["result"]["trashed"],
            false);
  EXPECT_EQ(ask(store, "append", {{"id", "note-1"}, {"text", "y"}})["result"]["text"], "x\ny");
  EXPECT_EQ(ask(store, "prepend", {{"id", "note-1"}, {"text", "w"}})["result"]["text"], "w\nx\ny");
}

TEST(StandinStore, TagEditsRespectTheScope) {
  Store store;
  Json scope = {{"excludeTags", {"secret"}}, {"onlyTags", {"work"}}};
  ask(store, "create", {{"text", "x"}, {"tags", "work, home"}}, scope);
  EXPECT_EQ(error_of(ask(store, "add_tags", {{"id", "note-1"}, {"tags", "Secret"}}, scope)),
            "Note is outside the connector tag scope");
  EXPECT_EQ(ask(store, "read", {{"id", "note-1"}})["result"]["tags"], Json({"work", "home"}));
  EXPECT_EQ(
      ask(store, "remove_tags", {{"id", "note-1"}, {"tags", "HOME"}}, scope)["result"]["tags"],
      Json({"work"}));
  EXPECT_EQ(ask(store, "remove_tags", {{"id", "note-1"}, {"tags", "work"}}, scope)["result"],
            Json({{"id", "note-1"}, {"outOfScope", true}}));
  EXPECT_EQ(error_of(ask(store, "read", {{"id", "note-1"}}, scope)), "Note not found");
}

TEST(StandinStore, TagsAreCountedLowerCased) {
  Store store;
  ask(store, "create", {{"text", "a"}, {"tags", "Work"}});
  ask(store, "create", {{"text", "b"}, {"tags", "work, home"}});
  EXPECT_EQ(ask(store, "tags", Json::object())["result"],
            json(R"({"tags":[{"count":1,"name":"home"},{"count":2,"name":"work"}]})"));
  EXPECT_EQ(ask(store, "tags", {{"query", "WO"}})["result"]["tags"].size(), 1u);
}

TEST(StandinStore, AttachmentsRoundTripAndAreChecked) {
  Store store;
  ask(store, "create", {{"text", "x"}});
  struct Case {
    std::string data;
    const char* error;
  } cases[] = {
      {"aGk", "Attachment data is not valid base64"},
      {"a=Gk", "Attachment data is not valid base64"},
      {"aG!=", "Attachment data is not valid base64"},
      {std::string(700 * 1024 / 3 * 4 + 4, 'A'), "Attachment exceeds 700 KB"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(ask(store, "attach", {{"id", "note-1"}, {"name", "n"}, {"data", c.data}})),
              c.error);
  }
  Json note =
      ask(store, "attach", {{"id", "note-1"}, {"name", "a.txt"}, {"data", "aGk="}})["result"];
  EXPECT_EQ(note["attachments"], json(R"([{"id":"att-1","name":"a.txt","size":2}])"));
  EXPECT_EQ(ask(store, "read_attachment", {{"id", "note-1"}, {"attachmentId", "att-1"}})["result"],
            json(R"({"data":"aGk=","id":"att-1","name":"a.txt","size":2})"));
  EXPECT_EQ(error_of(ask(store, "read_attachment", {{"id", "note-1"}, {"attachmentId", "att-2"}})),
            "Attachment not found");
}

}  // namespace
}  // namespace quorvi::standin
