#pragma once
// Number <-> text conversions with the semantics the settings and viewers rely on.

#include <QString>

namespace toolkit {

// Optional sign and decimal digits; surrounding blanks ignored ("030" reads 30).
// Anything else, or a value outside 32 bits, raises EConvertError
// "'abc' is not a valid integer value".
int StrToInt(const QString& text);

// Decimal number with a point as separator, optional sign and exponent;
// surrounding blanks ignored. Otherwise EConvertError
// "'abc' is not a valid floating point value".
double StrToFloat(const QString& text);

// printf-style formatting with a point as decimal separator, whatever the locale.
QString FormatFloat(const char* printfFormat, double value);

}  // namespace toolkit
