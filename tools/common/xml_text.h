// Text inside XML attribute values, as the collection of a time series names its files.
#pragma once

#include <string>

// Why s cannot stand in an XML attribute, or nullptr when it can: XML 1.0 takes UTF-8 text
// without control characters other than tab, line feed and carriage return.
const char *xml_unfit(const std::string &s);

// Text for an XML attribute value; white space other than a space is written as a character
// reference, which a parser reads back as it was (a plain line feed would read as a space).
std::string xml_escaped(const std::string &s);

// An attribute value as a parser reads it: the entities above and numeric references undone.
std::string xml_unescaped(const std::string &s);
