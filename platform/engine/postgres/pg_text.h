// Text forms exchanged with a PostgreSQL server: the server's output of
// dates, times and timestamps turned into date-time values, parameter values
// turned into the text the server parses, identifiers and messages.
//
// Results and parameters travel as text; these routines are on the path of
// every row, so they parse by hand, without locale or allocation.
#ifndef HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_TEXT_H_
#define HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_TEXT_H_

#include <string>
#include <string_view>

#include "platform/engine/driver.h"
#include "platform/engine/value.h"

namespace engine::pg {

// The field type of a result column of the given type OID; types the
// system does not know arrive as kString (their text form).
FieldType FieldTypeOfOid(unsigned int oid);

// Server output with DateStyle ISO: "2003-07-04", "10:30:00.123",
// "2003-07-04 10:30:00.123456+02". Fractions are rounded to the millisecond;
// a zone offset is ignored (the value is the wall-clock time the server
// shows). False for texts that are no such value ("infinity", BC dates).
bool ParseDate(std::string_view text, double& out);
bool ParseTime(std::string_view text, double& out);
bool ParseTimestamp(std::string_view text, double& out);

// Fills `out` with the value of a column of type `type` from the server's
// text. Raises EDBEngineError for a text that does not convert.
void ParseField(FieldType type, std::string_view text, Value& out);

// "2003-07-04 10:30:00.000": a date-time value at the nearest millisecond.
void AppendIsoDateTime(std::string& out, double value);
// "10:30:00.000": the time of day of a value in [0, 1]; 1 is "24:00:00.000",
// the end of the day that the server's time type holds.
void AppendIsoTime(std::string& out, double value);

// The text the server receives for a value: integers in decimal, floats in
// their shortest exact form, text unchanged. A kFloat value of a date-time
// type is sent as AppendIsoDateTime. False for null. Raises EDBEngineError
// for text holding a zero byte, which the protocol cannot carry.
bool ParamText(FieldType type, const Value& value, std::string& out);

// A table or index name as the server stores an unquoted identifier: ASCII
// letters in lower case, enclosed in double quotes with inner quotes
// doubled, so that any name is one identifier and never SQL text.
std::string QuoteIdent(std::string_view name);

// A server or library message on one line: trailing blanks and line breaks
// removed, inner line breaks (and the indentation after them) turned into
// one blank.
std::string OneLine(std::string_view message);

}  // namespace engine::pg

#endif  // HISTDATA_PLATFORM_ENGINE_POSTGRES_PG_TEXT_H_
