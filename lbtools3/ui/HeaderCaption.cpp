#include "HeaderCaption.h"

#include <QHeaderView>
#include <QStyle>
#include <algorithm>

namespace lb {
namespace {
int CaptionRoom(const QHeaderView& header, int section) {
  const int margin = 2 * header.style()->pixelMetric(QStyle::PM_HeaderMargin, nullptr, &header);
  return std::max(0, header.sectionSize(section) - margin);
}
}  // namespace

bool HeaderCaptionClipped(const QHeaderView& header, int section, const QString& caption) {
  return header.fontMetrics().horizontalAdvance(caption) > CaptionRoom(header, section);
}

QVariant HeaderCaptionData(const QHeaderView& header, int section, const QString& caption,
                           int role) {
  const bool bClipped = HeaderCaptionClipped(header, section, caption);
  if (role == Qt::DisplayRole)
    return bClipped ? header.fontMetrics().elidedText(caption, Qt::ElideRight,
                                                      CaptionRoom(header, section))
                    : caption;
  if (role == Qt::ToolTipRole && bClipped) return caption;
  return QVariant();
}
}  // namespace lb
