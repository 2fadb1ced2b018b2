#include "platform/support/savetags.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace kvaro {

uint64_t RandomBits() { return QRandomGenerator::system()->generate64(); }

std::string RandomTag() {
  static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  // 36^10 is below 2^52: one draw of 64 bits gives every character.
  uint64_t bits = RandomBits();
  std::string tag;
  for (size_t i = 0; i < kRandomTagLength; ++i, bits /= 36) tag += digits[bits % 36];
  return tag;
}

bool IsRandomTag(std::string_view text) {
  return text.size() == kRandomTagLength && std::all_of(text.begin(), text.end(), [](char c) {
           return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z');
         });
}

std::string UtcStamp(long secondsAgo) {
  const std::time_t now = std::time(nullptr) - secondsAgo;
  std::tm tm{};
  gmtime_r(&now, &tm);
  char buf[32];
  std::strftime(buf, sizeof buf, "%Y%m%d%H%M%S", &tm);
  return buf;
}

std::string TimedTag() {
  char buf[24];
  std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(RandomBits()));
  return UtcStamp(0) + "-" + buf;
}

bool IsTimedTag(std::string_view tag) {
  const auto digits = [](std::string_view t) {
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  const auto hex = [](std::string_view t) {
    return std::all_of(t.begin(), t.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
  };
  if (tag.size() < 31 || !digits(tag.substr(0, 14)) || tag[14] != '-' || !hex(tag.substr(15, 16)))
    return false;
  return tag.size() == 31 || (tag[31] == '-' && digits(tag.substr(32)));
}

bool MadeNoLaterThan(std::string_view tag, const std::string& stamp) {
  return std::string(tag.substr(0, 14)) <= stamp;
}

std::string DataHome() {
  const QByteArray xdg = qgetenv("XDG_DATA_HOME");
  if (!xdg.startsWith('/')) {
    // A relative $XDG_DATA_HOME is to be ignored by the XDG rules, which QStandardPaths
    // does not do in every Qt release; and without a home it answers below "/", where
    // this program has always used the working folder.
    if (qEnvironmentVariableIsEmpty("HOME")) return "./.local/share";
    if (!xdg.isEmpty()) return QFile::encodeName(QDir::homePath() + "/.local/share").toStdString();
  }
  return QFile::encodeName(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
      .toStdString();
}

}  // namespace kvaro
