#include "foundation/file_log.h"

#include "foundation/setting_table.h"

namespace quillon {

namespace {

class Locked {
  public:
    explicit Locked(ILogThreads& threads) : threads_(threads) { threads_.Lock(); }
    ~Locked() { threads_.Unlock(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

  private:
    ILogThreads& threads_;
};

}  // namespace

LogSettings ReadLogSettings(IProfile& profile, const std::string& path) {
    LogSettings settings;
    settings.enabled = ReadSetting(profile, path, Setting::kLogEnable) != 0;
    if (!settings.enabled) return settings;
    settings.file = ReadSettingText(profile, path, Setting::kLogFile);
    settings.maxBytes =
        static_cast<uint64_t>(ReadSetting(profile, path, Setting::kLogMaxKb)) * 1024u;
    return settings;
}

std::string FormatLogLine(const LogStamp& stamp, const std::string& text) {
    const LocalTime& t = stamp.time;
    std::string line =
        Format("%02d/%02d/%04d %02d:%02d:%02d.%03d | pid %u tid %u | ", t.day, t.month, t.year,
               t.hour, t.minute, t.second, t.millisecond, static_cast<unsigned>(stamp.processId),
               static_cast<unsigned>(stamp.threadId));
    line.reserve(line.size() + text.size() + 2);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            line += " / ";
        } else {
            line += c;
        }
    }
    line += "\r\n";
    return line;
}

FileLog::FileLog(ILogFile& file, ILogThreads& threads) : file_(file), threads_(threads) {}

FileLog::~FileLog() { Close(); }

void FileLog::Open(const LogSettings& settings) {
    bool opened = false;
    {
        Locked lock(threads_);
        CloseLocked();
        rotationFailed_ = false;
        if (settings.enabled && !settings.file.empty()) {
            path_ = settings.file;
            maxBytes_ = settings.maxBytes;
            open_ = file_.Open(path_);
            size_ = open_ ? file_.Size() : 0;
            opened = open_;
        }
    }
    // A file that cannot be opened costs the call's lines nothing but their building.
    if (opened) {
        SetLogSink(this);
    } else {
        RemoveLogSink(this);
    }
}

void FileLog::Close() {
    RemoveLogSink(this);
    Locked lock(threads_);
    CloseLocked();
}

void FileLog::CloseLocked() {
    if (open_) file_.Close();
    open_ = false;
}

void FileLog::Write(const std::string& line) {
    Locked lock(threads_);
    if (!open_) return;
    const std::string text = FormatLogLine(threads_.Stamp(), line);
    // An empty file takes its first line whatever its length, so a rename never loops.
    if (size_ > 0 && size_ + text.size() > maxBytes_ && !rotationFailed_) RotateLocked();
    if (!open_) return;
    size_ += file_.Write(text.data(), text.size());
}

void FileLog::RotateLocked() {
    file_.Close();
    // Should the rename fail (FILE.1 held by a viewer), the lines go on into FILE: they matter
    // more than the cap, which the next call tries again.
    if (!file_.Replace(path_, path_ + ".1")) rotationFailed_ = true;
    open_ = file_.Open(path_);
    size_ = open_ ? file_.Size() : 0;
}

}  // namespace quillon
