#include "capture/class_status.h"

#include <cstdio>

#include "capture/screen_grabber.h"
#include "launch/allowed_hosts.h"

namespace quillon {
namespace {

constexpr int32_t kSilence = 64;         // peaks below this are no sound (-54 dBFS)
constexpr double kSilentFor = 2.0;       // seconds without sound before "没有声音"
constexpr double kDroppedWindow = 60.0;  // seconds

std::string Clock(double seconds) {
  const long whole = seconds < 0 ? 0 : static_cast<long>(seconds);
  char text[32];
  if (whole >= 3600)
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  else
    std::snprintf(text, sizeof text, "%02ld:%02ld", whole / 60, whole % 60);
  return text;
}

// Five steps from -54 dBFS to full scale, about 10 dB each.
std::string Meter(int32_t peak) {
  static constexpr int32_t kSteps[] = {64, 200, 640, 2000, 6400};
  std::string meter;
  for (int32_t step : kSteps) meter += peak >= step ? "▮" : "▯";
  return meter;
}

}  // namespace

namespace {

std::string HostAndPort(const std::string& publishUrl) {
  const PublishHost at = SplitPublishAddress(publishUrl);
  return at.host.empty() ? publishUrl : at.host + ":" + at.port;
}

}  // namespace

std::string PublishTarget(const std::string& publishUrl) {
  return HostAndPort(publishUrl) + (publishUrl.starts_with("rtmps://") ? kEncryptedMark : "");
}

std::string StartFailureText(uint32_t startFailure, const std::string& publishUrl) {
  const std::string target = HostAndPort(publishUrl);
  std::string why;
  switch (startFailure) {
    case 1:
      why = "服务器 " + target + " 在 5 秒内没有应答";
      break;
    case 2:
      why = target + " 没有接受连接（服务器没有运行，或端口不对）";
      break;
    case 3:
      why = "找不到服务器 " + SplitPublishAddress(publishUrl).host;
      break;
    case 4:
      why = "服务器拒绝了这个课堂的直播（这个课堂可能已有人在直播）";
      break;
    case 5:
      why = "连接 " + target + " 时出错";
      break;
    case 6:
      why = "地址不能用来直播";
      break;
    case 7:
      why = "服务器 " + target + " 的证书不可信（不是受信任的证书机构签发的）";
      break;
    case 8:
      why = "服务器 " + target + " 的证书已过期（或还没有生效）";
      break;
    case 9:
      why = "服务器 " + target + " 的证书是别的主机的，不是 " +
            SplitPublishAddress(publishUrl).host + " 的";
      break;
    default:
      return {};
  }
  return why + "：" + publishUrl;
}

std::string ConnectFailedMessage(uint32_t startFailure, const std::string& publishUrl) {
  switch (static_cast<ScreenProblem>(startFailure)) {
    case ScreenProblem::kNoScreenSharing:
      return "课堂没有开始：这是 Wayland 桌面，但没有屏幕共享服务。\n请安装 xdg-desktop-portal "
             "和本桌面的后端（xdg-desktop-portal-gnome、-kde 或 -wlr），或者登录时选择 X11 会话。";
    case ScreenProblem::kNotShared:
      return "课堂没有开始：没有共享屏幕。\n请再按上课，在屏幕共享窗口里选择一个显示器并允许共享。";
    case ScreenProblem::kNoPicture:
      return "课堂没有开始：屏幕共享已允许，但没有收到画面。\n请确认 PipeWire "
             "在运行，然后再按上课。";
    case ScreenProblem::kCancelled:
      return "课堂没有开始：在选择共享的屏幕时停止了。";
    case ScreenProblem::kNoScreenSize:
      return "课堂没有开始：不知道要发布的屏幕有多大。\n请在 config.ini 的 [Device] 中设定 "
             "ScreenWidth 和 ScreenHeight。";
    case ScreenProblem::kScreenRateTooLarge:
      return "课堂没有开始：config.ini 中 ScreenRate 太大，小画面会没有像素。\n请在 config.ini 的 "
             "[Device] 中把 ScreenRate 设小一些（如 4）。";
    default:
      break;
  }
  const std::string why = StartFailureText(startFailure, publishUrl);
  return why.empty() ? kConnectFailed : kConnectFailed + ("\n" + why);
}

ClassStatusTracker::ClassStatusTracker(std::string target)
    : target_(std::move(target)), encrypted_(target_.ends_with(kEncryptedMark)) {}

ClassState ClassStatusTracker::StateOf(const ClassReading& reading) const {
  if (reading.starting) return ClassState::kConnecting;
  if (!reading.running) return ClassState::kIdle;
  if (!reading.stats) return ClassState::kLive;  // the library cannot tell more
  if (reading.stats->GaveUp != 0) return ClassState::kGaveUp;
  return reading.stats->Connected != 0 ? ClassState::kLive : ClassState::kReconnecting;
}

uint64_t ClassStatusTracker::DroppedInLastMinute(double now, const ClassReading& reading) {
  if (!reading.running || !reading.stats) {
    dropped_.clear();
    return 0;
  }
  dropped_.emplace_back(now, reading.stats->PicturesDropped);
  while (dropped_.size() > 1 && dropped_[1].first <= now - kDroppedWindow) dropped_.pop_front();
  return dropped_.back().second - dropped_.front().second;
}

const char* ClassStateName(ClassState state) {
  switch (state) {
    case ClassState::kIdle:
      return "idle";
    case ClassState::kConnecting:
      return "connecting";
    case ClassState::kLive:
      return "live";
    case ClassState::kReconnecting:
      return "reconnecting";
    case ClassState::kGaveUp:
      return "refused";
  }
  return "idle";
}

ClassStatusTracker::Status ClassStatusTracker::Update(double now, const ClassReading& reading) {
  Status status;
  status.state = StateOf(reading);
  status.changed = first_ || status.state != state_;
  if (status.changed) stateSince_ = now;
  // A class's time runs from when it went live, through any break.
  if (status.changed && status.state == ClassState::kLive && state_ != ClassState::kReconnecting)
    liveSince_ = now;
  first_ = false;
  state_ = status.state;

  std::string& line = status.line;
  switch (status.state) {
    case ClassState::kIdle:
      line = "未上课 · 上课后发布到 " + target_;
      break;
    case ClassState::kConnecting:
      line = "正在连接 " + target_ + "…";
      break;
    case ClassState::kLive:
      line = "正在直播 " + Clock(now - liveSince_);
      if (encrypted_) line += " · 加密";
      // The rate is measured over a few seconds: none yet is not a rate of 0.
      if (reading.stats && (reading.stats->BitrateKbps > 0 || now - liveSince_ >= 3))
        line += " · " + std::to_string(reading.stats->BitrateKbps) + " kb/s";
      break;
    case ClassState::kReconnecting:
      line = "连接中断，正在重新连接 " + target_ + " · 第 " +
             std::to_string(reading.stats->FailedAttempts + 1) + " 次 · 已中断 " +
             Clock(now - stateSince_);
      break;
    case ClassState::kGaveUp:
      line = "服务器拒绝了直播（这个课堂可能已有人在直播），请下课后再试";
      break;
  }
  const uint64_t dropped = DroppedInLastMinute(now, reading);
  if (!reading.running) {
    lastSound_ = -1;
    return status;
  }

  // The library lowers the picture's rate while the link cannot carry the class's.
  if (status.state == ClassState::kLive && reading.stats && reading.stats->TargetKbps > 0 &&
      static_cast<int64_t>(reading.stats->TargetKbps) < reading.classKbps)
    line += " · 网络慢，画质降到 " + std::to_string(reading.stats->TargetKbps) + " kb/s";
  if (!reading.publishesPicture) line += " · 没有画面";
  if (reading.screenProblem != 0) line += " · 屏幕共享已停止，画面停在最后一帧";
  if (dropped > 0) line += " · 最近一分钟丢了 " + std::to_string(dropped) + " 帧";
  if (reading.soundWanted) {
    // A device that records is given kSilentFor from the start before its quiet counts.
    if (lastSound_ < 0 || (reading.soundOpen && reading.soundPeak >= kSilence)) lastSound_ = now;
    const bool silent = !reading.soundOpen || now - lastSound_ >= kSilentFor;
    line += silent ? " · 没有声音" : " · 音量 " + Meter(reading.soundPeak);
  }
  return status;
}

}  // namespace quillon
