#include "resources/result_bitmaps.h"

#include <QIcon>

// The resource tree lives in a static library: registering it from here makes every user of the
// paths below link it in.
static void register_resource_tree() {
  Q_INIT_RESOURCE(quill_resources);
}

namespace resources {
namespace {

void ensure_registered() {
  static const bool registered = (register_resource_tree(), true);
  (void)registered;
}

}  // namespace

QString bitmap_resource_path(int id) {
  if (find_result_bitmap(id) == nullptr) return {};
  ensure_registered();
  return QStringLiteral(":/") + bitmap_file_name(id);
}

QIcon application_icon() {
  ensure_registered();
  QIcon icon;
  for (int size : kApplicationIconSizes) {
    icon.addFile(QStringLiteral(":/") + application_icon_file_name(size), QSize(size, size));
  }
  return icon;
}

}  // namespace resources
