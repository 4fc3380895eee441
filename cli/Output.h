#pragma once

#include <QJsonValue>

#include <string>

// Standard output of the commands; FinishOutput() in main tells whether it arrived.
void PrintLine(const std::string& line);
// One JSON document, compact, on one line.
void PrintJson(const QJsonValue& value);
// A stored 8-bit text as a JSON string.
QJsonValue JsonText(const std::string& bytes);
