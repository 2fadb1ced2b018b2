// Renders the application icon, drawn by the program's own artwork code, into the
// hicolor icon theme layout: <folder>/<size>x<size>/apps/orvelle32setup.png.
//
//   orvelle_make_icons FOLDER SIZE...
#include <QDir>
#include <QGuiApplication>
#include <cstdio>
#include <cstdlib>

#include "widgets/artwork.h"

int main(int argc, char* argv[]) {
  // Drawing needs no screen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: orvelle_make_icons FOLDER SIZE...\n");
    return 2;
  }
  const QString folder = QString::fromLocal8Bit(argv[1]);
  for (int i = 2; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0) {
      std::fprintf(stderr, "orvelle_make_icons: bad size '%s'\n", argv[i]);
      return 2;
    }
    const QString dir = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(size);
    const QString file = dir + QStringLiteral("/orvelle32setup.png");
    if (!QDir().mkpath(dir) || !art::IconPixmap(size).save(file, "PNG")) {
      std::fprintf(stderr, "orvelle_make_icons: cannot write %s\n", qPrintable(file));
      return 1;
    }
  }
  return 0;
}
