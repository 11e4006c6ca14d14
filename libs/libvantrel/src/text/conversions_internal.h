// Checks of text that the library uses internally but does not export.
#ifndef VANTREL_TEXT_CONVERSIONS_INTERNAL_H
#define VANTREL_TEXT_CONVERSIONS_INTERNAL_H

namespace vantrel::internal {

// 1 when text is optional leading white space, an optional "-" and decimal
// digits up to its end, else 0.  Digits are optional, so the empty text, a
// blank text and a lone "-" pass; the number's size is not checked.
int IsValidInteger64Text(const char *text);

}  // namespace vantrel::internal

#endif  // VANTREL_TEXT_CONVERSIONS_INTERNAL_H
