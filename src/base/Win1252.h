#pragma once
// 8-bit strings hold Windows-1252 bytes; these convert at the edges (GUI, web, mail).
#include <string>

std::string Cp1252ToUtf8(const std::string& s);
// Characters without a Windows-1252 byte become '?'.
std::string Utf8ToCp1252(const std::string& s);
