#include "platform/support/atomicfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

namespace kvaro {

bool WriteFileAtomically(const std::string& path, std::string_view text, std::string* why,
                         bool ownerOnly) {
  const QString name = QString::fromStdString(path);
  QSaveFile file(name);
  // Never the fallback of writing into the file itself: a failure would leave it half
  // written.
  file.setDirectWriteFallback(false);
  auto fail = [&](const QString& reason) {
    file.cancelWriting();
    if (why) *why = reason.toStdString();
    return false;
  };
  if (!file.open(QIODevice::WriteOnly)) return fail(file.errorString());
  const QFileDevice::Permissions mode = QFile::exists(name) ? QFile::permissions(name)
                                        : ownerOnly
                                            ? QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                            : QFileDevice::Permissions();
  if (mode && !file.setPermissions(mode)) return fail(file.errorString());
  if (file.write(text.data(), qint64(text.size())) != qint64(text.size()))
    return fail(file.errorString());
  if (!file.commit()) {
    if (why) *why = file.errorString().toStdString();
    return false;
  }
  // The rename is on disk only once the folder is.
  const std::string folder = QFileInfo(name).absolutePath().toStdString();
  const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    const bool synced = ::fsync(dirFd) == 0;
    const int error = errno;
    ::close(dirFd);
    if (!synced) {
      if (why) *why = std::strerror(error);
      return false;
    }
  }
  return true;
}

}  // namespace kvaro
