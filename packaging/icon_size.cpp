// Writes the application icon at one size for the desktop's icon theme:
//   quill_icon_size <source.png> <size> <output.png>
// The source is the largest drawn size; it is scaled down smoothly. No display is needed.
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s <source.png> <size> <output.png>\n", argv[0]);
    return 2;
  }
  const int size = std::atoi(argv[2]);
  const QImage source(QString::fromLocal8Bit(argv[1]));
  if (source.isNull() || size <= 0 || size > source.width() || size > source.height()) {
    std::fprintf(stderr, "%s: cannot make a %s pixel icon from %s\n", argv[0], argv[2], argv[1]);
    return 1;
  }
  const QImage icon = source.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
  if (!icon.save(QString::fromLocal8Bit(argv[3]), "PNG")) {
    std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
    return 1;
  }
  return 0;
}
