#include "platform/support/digest.h"

#include <QCryptographicHash>

namespace kvaro {

std::string Sha256Hex(std::string_view bytes) {
  const QByteArray hash =
      QCryptographicHash::hash(QByteArrayView(bytes.data(), qsizetype(bytes.size())),
                               QCryptographicHash::Sha256)
          .toHex();
  return std::string(hash.constData(), size_t(hash.size()));
}

}  // namespace kvaro
