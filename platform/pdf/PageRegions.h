#pragma once

// Where a page paints text and images, roughly: enough to tell whether an
// annotation laid on the page later hides what was signed.

#include <QRectF>
#include <qpdf/QPDFObjectHandle.hh>
#include <vector>

namespace selavia::pdf {

// The boxes, in the page's default user space, where its content streams
// show text or draw images and forms. Text extents are estimated from the
// font size (half an em per byte): an overlay check, not a layout. A
// content that cannot be read gives the whole page, so that nothing painted
// over it passes unseen. Bounded: decoded content beyond a cap, or more
// operations than any page holds, stop the reading the same way.
std::vector<QRectF> paintedRegions(QPDFObjectHandle page);

// A rectangle array ([x1 y1 x2 y2], any corner order); empty when malformed.
QRectF rectangleOf(QPDFObjectHandle array);

} // namespace selavia::pdf
