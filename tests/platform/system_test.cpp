// The operating-system layer: text conversion, folders, the cross-thread queue.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/stat.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "platform/message_queue.h"
#include "platform/system.h"

namespace platform {
namespace {

TEST(TextConversion, RoundTripsEveryPlane) {
  const std::u16string texts[] = {u"", u"Burn Width", u"Gr\u00FC\u00DFe (\u00B0)", u"\u65E5\u672C", u"\U0001F600 ok"};
  for (const auto& text : texts) EXPECT_EQ(Widen(Narrow(text)), text);
  EXPECT_EQ(Narrow(u"\u00B0"), "\xC2\xB0");
  EXPECT_EQ(Narrow(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(TextConversion, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(Widen("a\xFF" "b"), u"a\uFFFDb");
  EXPECT_EQ(Widen("\xE6\x97"), u"\uFFFD\uFFFD");  // truncated sequence
  EXPECT_EQ(Narrow(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Folders, ApplicationDataFollowsXdg) {
  const char* old = std::getenv("XDG_CONFIG_HOME");
  const std::string saved = old != nullptr ? old : "";
  setenv("XDG_CONFIG_HOME", "/tmp/kv-config", 1);
  EXPECT_EQ(ApplicationDataFolder(), std::filesystem::path("/tmp/kv-config"));
  setenv("XDG_CONFIG_HOME", "relative/is/ignored", 1);
  EXPECT_EQ(ApplicationDataFolder(), std::filesystem::path(std::getenv("HOME")) / ".config");
  if (old != nullptr) setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
  else unsetenv("XDG_CONFIG_HOME");
}

// Only regular files of a bounded size are read: a pipe, a folder or a
// device in a resource's place is refused at once, never waited on.
TEST(Resources, AreBoundedRegularFilesUnderTheResourceFolder) {
  const auto folder = std::filesystem::temp_directory_path() / "kv-resource-test";
  std::filesystem::remove_all(folder);
  std::filesystem::create_directories(folder / "KIND" / "9");
  std::ofstream(folder / "KIND" / "7", std::ios::binary) << "bytes";
  ASSERT_EQ(::mkfifo((folder / "KIND" / "8").c_str(), 0600), 0);
  std::filesystem::create_symlink("/dev/zero", folder / "KIND" / "10");
  SetResourceFolder(folder);
  const auto bytes = LoadResource("KIND", 7, 5);
  ASSERT_TRUE(bytes.has_value());
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "bytes");
  EXPECT_FALSE(LoadResource("KIND", 7, 4).has_value());
  for (int missing : {8, 9, 10, 11}) EXPECT_FALSE(LoadResource("KIND", missing, 100).has_value()) << missing;
  SetResourceFolder("");
  EXPECT_FALSE(LoadResource("KIND", 7, 100).has_value());
  std::filesystem::remove_all(folder);
}

bool Readable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) == 1;
}

// The wake-up descriptor tells a window system's loop that a call waits.
TEST(MessageQueue, RunsSentCallsOnThePumpingThread) {
  MessageQueue queue;
  const int wake = queue.WakeupDescriptor();
  ASSERT_GE(wake, 0);
  EXPECT_FALSE(Readable(wake, 0));
  const auto pumper = std::this_thread::get_id();
  std::thread::id ranOn;
  std::atomic<int32_t> result{0};
  std::thread sender([&] { result = queue.Send(kWmApp + 5, [&] { ranOn = std::this_thread::get_id(); return 42; }); });
  ASSERT_TRUE(Readable(wake, 60000));
  EXPECT_EQ(queue.Pump(), 1);
  sender.join();
  EXPECT_EQ(result, 42);
  EXPECT_EQ(ranOn, pumper);
  EXPECT_FALSE(Readable(wake, 0)) << "pumping empties it";
}

TEST(MessageQueue, ClosingReleasesWaitingSenders) {
  MessageQueue queue;
  std::atomic<int32_t> result{0};
  std::thread sender([&] { result = queue.Send(kWmApp + 6, [] { return 7; }); });
  // Whether the send was queued before the close or refused after it, the
  // sender gets -1 and never runs.
  queue.Close();
  sender.join();
  EXPECT_EQ(result, -1);
  EXPECT_EQ(queue.Send(kWmApp + 6, [] { return 7; }), -1);
  queue.Reopen();
  std::thread again([&] { result = queue.Send(kWmApp + 6, [] { return 8; }); });
  while (queue.PumpFor(std::chrono::milliseconds(10)) == 0) {
  }
  again.join();
  EXPECT_EQ(result, 8);
}

}  // namespace
}  // namespace platform
