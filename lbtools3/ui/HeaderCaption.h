// Column captions in a header too narrow for them: every list view shows such a caption
// by its start ending in "…" (the header itself would cut a centred text at both ends)
// and offers it whole as the tooltip.
#pragma once

#include <QString>
#include <QVariant>

class QHeaderView;

namespace lb {
// The caption is wider than its section leaves room for.
bool HeaderCaptionClipped(const QHeaderView& header, int section, const QString& caption);
// What a model's headerData answers for the caption of a section: the text shown (whole,
// or its start and "…") and, when clipped, the whole caption as the tooltip; an empty
// value for other roles.
QVariant HeaderCaptionData(const QHeaderView& header, int section, const QString& caption,
                           int role);
}  // namespace lb
