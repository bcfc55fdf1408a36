// Reading the settings record from config.ini and writing the main window's choices back.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

#include "base/display_info.h"
#include "base/publisher_settings.h"
#include "base/user_files.h"
#include "base/user_messages.h"

namespace quillon {

// The settings file of the program in programFolder: config.ini beside it, or the teacher's own
// when the folder is read-only (ChooseUserFiles).
inline std::filesystem::path SettingsFileIn(const std::filesystem::path& programFolder) {
  return ChooseUserFiles(programFolder).SettingsFile;
}

// Shown when the stored address holds no "&" (no stream name can be told from the publish URL).
inline constexpr char kBadAddressMessage[] = "参数有误!";
// Shown when config.ini is there but cannot be read (a folder of that name, no permission, ...);
// the log says why.
inline constexpr char kSettingsUnreadableMessage[] =
    "无法读取设置文件 config.ini。请联系学校的课堂管理员。";
// Shown when config.ini could not be written (read-only, ...); the log says why.
inline constexpr char kSettingsNotSavedMessage[] =
    "设置没有保存: 无法写入 config.ini。请联系学校的课堂管理员。";

// Shown when config.ini had gone missing and was made again from the shipped default.
inline constexpr char kSettingsRestoredMessage[] =
    "没有找到设置文件 config.ini, 已按软件自带的默认设置重新建立。";

// The stored Address is read up to 99 bytes; the rest of a longer one is ignored.
inline constexpr std::size_t kAddressCapacity = 100;

// The values behind the main window's four setting controls.
struct WindowChoices {
  int32_t HaveAudio = 0;   // send-sound check box
  int32_t DeviceID = 0;    // camera list position, -1 when nothing is selected
  int32_t Bitrate = 0;     // bit-rate box, kilobits per second
  int32_t VideoStyle = 0;  // picture-type list position, -1 when nothing is selected
};

// What the main window keeps of the settings.
struct WindowSettings {
  std::unique_ptr<PublisherSettings> Record;  // none before the first ReadSettings
  WindowChoices Choices;
  std::string StreamName;  // the class id, given to the classroom page as "meetingid"
};

// The stored form of an address: byte i raised by (i mod 3) + 1, modulo 256. Descrambling lowers
// it again. Both stop at a zero byte, in the input or produced by the change.
std::string ScrambleAddress(std::string_view plain);
std::string DescrambleAddress(std::string_view stored);

// Splits a descrambled address at its last "&" into the publish URL before it and the stream name
// after it. Without "&": false, an empty publish URL and the whole text as stream name.
bool SplitAddress(std::string_view plain, std::string& publish_url, std::string& stream_name);

// Lowers a screen size until it is a multiple of 4 (1366 becomes 1364).
int32_t RoundDownToMultipleOf4(int32_t size);

// Fills the record (creating it on the first call) and the window's choices and stream name from
// the settings file. A zero ScreenWidth or ScreenHeight takes the primary display's size; the
// screen size is then lowered to multiples of 4 when a class can use the result, and otherwise
// kept as read, so that CheckClassSettings names the value config.ini holds. Returns true, or
// false after showing kBadAddressMessage when the descrambled address holds no "&", or false
// after showing kSettingsUnreadableMessage (and logging why) when the file is there but cannot be
// read: the record, the choices and the stream name are then left as they were (no record on the
// first call). A missing file reads as empty: every value 0.
// Values are taken as the file holds them; CheckClassSettings tells whether a class can use them.
bool ReadSettings(WindowSettings& window, const DisplayInfo& display, UserMessages& messages,
                  const std::filesystem::path& file);

// At start-up: when there is no file at all, writes the shipped default config.ini there and tells
// the user kSettingsRestoredMessage. A file that is there (readable or not) is left alone. false
// when the default could not be written (the log says why; storing the address will fail too and
// say so).
bool RestoreMissingSettings(const std::filesystem::path& file, UserMessages& messages);

// Writes each of the window's choices that differs from the record's field to its key in
// section Device ("%d"); equal values are not written and the record is left as it is. Returns
// false when a value could not be written (the file is then as it was before that value).
bool WriteBackSettings(const WindowSettings& window, const std::filesystem::path& file);

// WriteBackSettings for one run of the program: the first time config.ini cannot be written (it
// is read-only, say) the user is told kSettingsNotSavedMessage. Later failures say nothing more:
// the file stays so for the run, and every start of a class would repeat the message.
class ChoiceWriter {
 public:
  explicit ChoiceWriter(UserMessages& messages) : messages_(messages) {}
  void WriteBack(const WindowSettings& window, const std::filesystem::path& file);

 private:
  UserMessages& messages_;
  bool told_ = false;
};

}  // namespace quillon
