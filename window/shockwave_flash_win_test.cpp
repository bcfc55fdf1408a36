// The classroom page's queue on Windows, with a page of the test's own in the browser's place:
// what is called before the page has loaded arrives once it has, in call order, and a script the
// page refuses keeps its place.
#include "window/shockwave_flash_win.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "base/testing/test_folder.h"

namespace quillon {
namespace {

class TestPage : public CShockwaveFlash {
 public:
  void Tick() { Poll(); }

  bool idle = false;
  bool complete = false;
  bool refuse = false;
  std::string written;
  std::vector<std::wstring> ran;

 protected:
  bool OpenBlankDocument() override { return true; }
  bool BrowserIdle() override { return idle; }
  bool WritePage(const std::string& page) override {
    written = page;
    return true;
  }
  bool PageComplete() override { return complete; }
  bool RunScript(const std::wstring& script) override {
    if (refuse) return false;
    ran.push_back(script);
    return true;
  }
};

bool Mentions(const std::wstring& script, const std::wstring& name, const std::wstring& value) {
  return script.find(JavaScriptString(name) + L", " + JavaScriptString(value)) !=
         std::wstring::npos;
}

// A page file of the test's own, named like a library.
class ClassroomPageWin : public testing::Test {
 protected:
  void SetUp() override {
    TestFolder::Write(file_, "<!DOCTYPE html><html><HEAD></HEAD><body>课堂</body></html>");
  }
  std::string File() const { return file_.string(); }

  TestFolder folder_;
  std::filesystem::path file_ = folder_ / "page.dll";
};

TEST_F(ClassroomPageWin, CallsBeforeThePageHasLoadedArriveInOrderAfterwards) {
  TestPage page;
  page.LoadMovie(0, File());
  page.Play();
  page.SetVariable("isOMB", "true");
  page.SetVariable("meetingid", "12345678");
  page.Tick();  // the blank document is not there yet
  EXPECT_TRUE(page.written.empty());
  page.idle = true;
  page.Tick();
  // Written as UTF-8 with the request for the browser's current engine inside the head.
  EXPECT_EQ(page.written.rfind("\xEF\xBB\xBF<!DOCTYPE html><html><HEAD><meta http-equiv=", 0), 0u);
  EXPECT_NE(page.written.find("<body>课堂</body>"), std::string::npos);
  page.Tick();  // still loading
  EXPECT_TRUE(page.ran.empty());
  EXPECT_FALSE(page.IsPageReady());

  page.complete = true;
  page.Tick();
  EXPECT_TRUE(page.IsPageReady());
  ASSERT_EQ(page.ran.size(), 3u);
  EXPECT_NE(page.ran[0].find(L"quillonplay"), std::wstring::npos);
  EXPECT_TRUE(Mentions(page.ran[1], L"isOMB", L"true"));
  EXPECT_TRUE(Mentions(page.ran[2], L"meetingid", L"12345678"));
  EXPECT_EQ(page.WaitingScripts(), 0u);

  page.SetVariable("currentStreamName", "rtmp://127.0.0.1/live");
  ASSERT_EQ(page.ran.size(), 4u);  // a loaded page gets it at once
  EXPECT_TRUE(Mentions(page.ran[3], L"currentStreamName", L"rtmp://127.0.0.1/live"));

  // Values come from config.ini, in the ANSI code page: a class id with letters beyond ASCII
  // reaches the page as the characters it stands for.
  const std::wstring classId = L"Caf\u00e9-7";
  char ansi[16] = {};
  BOOL lost = FALSE;
  ASSERT_GT(WideCharToMultiByte(CP_ACP, 0, classId.c_str(), -1, ansi, sizeof ansi, nullptr, &lost),
            0);
  ASSERT_FALSE(lost) << "the code page has no e acute";
  page.SetVariable("meetingid", ansi);
  ASSERT_EQ(page.ran.size(), 5u);
  EXPECT_TRUE(Mentions(page.ran[4], L"meetingid", classId));
}

TEST_F(ClassroomPageWin, AMissingPageFileLoadsAnEmptyPageAndARefusedScriptKeepsItsPlace) {
  TestPage page;
  page.idle = page.complete = true;
  page.LoadMovie(0, File() + ".missing");
  page.Tick();
  EXPECT_NE(page.written.find("<body></body>"), std::string::npos);
  page.Tick();
  ASSERT_TRUE(page.IsPageReady());
  page.refuse = true;
  page.SetVariable("currentStreamName", "");
  page.SetVariable("meetingid", "1");
  page.Tick();  // refused again: both keep waiting
  EXPECT_EQ(page.WaitingScripts(), 2u);
  page.refuse = false;
  page.SetVariable("isOMB", "true");  // behind the two that wait
  EXPECT_TRUE(page.ran.empty());
  page.Tick();
  ASSERT_EQ(page.ran.size(), 3u);
  EXPECT_TRUE(Mentions(page.ran[0], L"currentStreamName", L""));
  EXPECT_TRUE(Mentions(page.ran[1], L"meetingid", L"1"));
  EXPECT_TRUE(Mentions(page.ran[2], L"isOMB", L"true"));
  const std::vector<std::pair<std::string, std::string>> all{
      {"currentStreamName", ""}, {"meetingid", "1"}, {"isOMB", "true"}};
  EXPECT_EQ(page.Variables(), all);
}

TEST(ClassroomPageScript, QuotesTextForThePageScript) {
  EXPECT_EQ(JavaScriptString(L"rtmp://h/a?x=\"1\"\\"), L"\"rtmp://h/a?x=\\\"1\\\"\\\\\"");
  EXPECT_EQ(JavaScriptString(L"a\nb</script>"), L"\"a\\u000ab\\u003c/script\\u003e\"");
  EXPECT_EQ(JavaScriptString(L"课堂"), L"\"课堂\"");
}

}  // namespace
}  // namespace quillon
