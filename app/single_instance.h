// One running program per program folder. Two windows of the same program would share one
// config.ini: 上课 in the older would publish to the newer window's class. A later start hands
// its launch request to the program that runs and ends.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace quillon {

enum class InstanceRole {
  kFirst,       // this process runs the program for its folder
  kHandedOver,  // the running program took the request: this process ends
  kNoAnswer,    // a program runs for the folder but did not take the request in time
};

// How long a later start tries to reach the running program, which may still be starting.
inline constexpr int kHandOverSeconds = 10;

// The platform's way between the starts of one program folder, named by InstanceName.
class InstanceChannel {
 public:
  virtual ~InstanceChannel() = default;
  // true when this process holds the folder now (also when it cannot tell: it runs as it always
  // did), false while another process holds it.
  virtual bool Claim() = 0;
  // A start that could not claim: true when the holder took request.
  virtual bool HandOver(const std::string& request) = 0;
  // After a successful Claim: see SingleInstance::Listen.
  virtual void Listen(std::function<void(const std::string&)> receive) = 0;
};
std::unique_ptr<InstanceChannel> MakeInstanceChannel(const std::string& name);

class SingleInstance {
 public:
  // Claims programFolder for this process or, when another process holds it, hands request (a
  // launch URL, empty for a fast class) to that one. When the holder ends meanwhile, this process
  // takes its place.
  SingleInstance(const std::filesystem::path& programFolder, const std::string& request);
  ~SingleInstance();
  SingleInstance(const SingleInstance&) = delete;
  SingleInstance& operator=(const SingleInstance&) = delete;

  InstanceRole Role() const { return role_; }

  // kFirst only: receive is called on this thread, while its event loop runs, with the request of
  // each later start. The later start has been answered already, so receive may take its time.
  void Listen(std::function<void(const std::string&)> receive);

 private:
  std::unique_ptr<InstanceChannel> channel_;
  InstanceRole role_ = InstanceRole::kFirst;
};

// The name the starts of the program in programFolder meet by: "quillon-publisher-" and 16
// hexadecimal digits of the folder's full path.
std::string InstanceName(const std::filesystem::path& programFolder);

// What a later start tells the teacher when the running program did not answer.
inline constexpr char kNoAnswerMessage[] =
    "课堂程序已经打开，但没有回应。\n请关闭已打开的课堂程序，再打开课堂链接。";

}  // namespace quillon
