// Stand-ins for what the main window reaches through interfaces (config.ini, the class sessions,
// the device lists), shared by the window logic's tests and the Qt and Win32 window tests. They
// note what the window asks of them.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/testing/shipped_settings.h"
#include "window/publisher_dlg_logic.h"

namespace quillon {

using CallLog = std::vector<std::string>;

// config.ini as the store sees it: the shipped values, and the keys written back, in order.
class FakeStore : public SettingsStore {
 public:
  // The shipped config.ini's values where a class needs them.
  FakeStore() : stored(ShippedSettings()) {
    stored.DeviceID = 1;
    stored.VideoStyle = 2;
  }
  bool ReadSettings(PublisherSettings& record, WindowValues& values,
                    std::string& streamName) override {
    record = stored;
    values = {stored.HaveAudio, stored.DeviceID, stored.Bitrate, stored.VideoStyle};
    streamName = classId;
    record.PublishUrl = usable ? publishUrl : "";
    return usable;
  }
  void WriteBackSettings(const PublisherSettings& record, const WindowValues& values) override {
    auto save = [&](const char* key, int32_t field, int32_t value, int32_t& storedField) {
      if (field == value) return;
      written.push_back(std::string(key) + "=" + std::to_string(value));
      storedField = value;
    };
    save("HaveAudio", record.HaveAudio, values.HaveAudio, stored.HaveAudio);
    save("DeviceID", record.DeviceID, values.DeviceID, stored.DeviceID);
    save("Bitrate", record.Bitrate, values.Bitrate, stored.Bitrate);
    save("VideoStyle", record.VideoStyle, values.VideoStyle, stored.VideoStyle);
  }
  // A link "rtmp://HOST/live/ID" makes ID the class; "refused" stores nothing.
  bool TakeLaunchRequest(const std::string& launchUrl) override {
    taken.push_back(launchUrl);
    if (launchUrl == "refused") return false;
    publishUrl = launchUrl;
    classId = launchUrl.substr(launchUrl.rfind('/') + 1);
    return true;
  }

  PublisherSettings stored;
  std::string publishUrl = "rtmp://127.0.0.1/live/12345678";
  std::string classId = "12345678";
  bool usable = true;
  CallLog written;
  CallLog taken;  // the links handed over, in order
};

// Makes sessions numbered from 1 that note their life in events: "create 1", "connect 1 style 2"
// (the picture type the record holds at the start), "capture 1 preview 4242", "stop 1",
// "destroy 1".
class FakeSessions : public SessionFactory {
 public:
  std::unique_ptr<ClassSession> Create(PublisherSettings& record) override {
    audioDevices.push_back(record.AudioDevice);
    return std::make_unique<Session>(*this, ++made, record);
  }
  void Prepare() override { ++prepared; }
  std::string LastEvent() const { return events.empty() ? "" : events.back(); }

  CallLog events;
  bool startSucceeds = true;
  int prepared = 0, made = 0, alive = 0;  // calls of Prepare, sessions made, sessions not gone
  int32_t stoppedStyle = -1;
  ClassReading reading;                            // what every running session reads
  uint32_t startFailure = 0;                       // why a failed start failed
  std::vector<const AudioDeviceId*> audioDevices;  // of each session at its creation

 private:
  class Session : public ClassSession {
   public:
    Session(FakeSessions& owner, int id, PublisherSettings& record)
        : owner_(owner), id_(std::to_string(id)), record_(record) {
      ++owner_.alive;
      owner_.events.push_back("create " + id_);
    }
    ~Session() override {
      --owner_.alive;
      owner_.events.push_back("destroy " + id_);
    }
    bool Connect() override {
      running_ = true;  // as the engine does: running from the start of Connect until Stop
      owner_.events.push_back("connect " + id_ + " style " + std::to_string(record_.VideoStyle));
      return owner_.startSucceeds;
    }
    void CancelConnect() override { owner_.events.push_back("cancel " + id_); }
    void StartCapture(PreviewWindow preview) override {
      owner_.events.push_back("capture " + id_ + " preview " + std::to_string(preview));
    }
    void Stop() override {
      // The engine reads the record until it has stopped: under AddressSanitizer a record let
      // go too early shows here.
      owner_.stoppedStyle = record_.VideoStyle;
      running_ = false;
      owner_.events.push_back("stop " + id_);
    }
    bool IsRunning() const override { return running_; }
    uint32_t StartFailure() const override { return owner_.startFailure; }
    ClassReading Read() override {
      ClassReading reading = owner_.reading;
      reading.running = running_;
      return reading;
    }

   private:
    FakeSessions& owner_;
    std::string id_;
    PublisherSettings& record_;
    bool running_ = false;
  };
};

// Two cameras; the sound list starts with the system default, which has no identifier.
class FakeDevices : public DeviceLists {
 public:
  std::vector<std::string> CameraNames() override { return cameras; }
  std::vector<SoundListItem> SoundDevices() override { return sounds; }

  AudioDeviceId mic{{1}, "mic"}, line{{2}, "line"};
  std::vector<std::string> cameras{"USB 摄像头", "Camera B"};
  std::vector<SoundListItem> sounds{{"Default", nullptr}, {"麦克风", &mic}, {"Line in", &line}};
};

}  // namespace quillon
