// CMimeTable: the content type of a served file by its lower-case extension, from the web
// server's fixed table; "text/html" for an extension it does not hold. Filled by the
// constructor and read-only afterwards, so any thread may look up at once.
#pragma once

#include <map>
#include <string>

class CMimeTable {
   public:
    CMimeTable();

    // extension without the dot, in lower case.
    const std::string& Lookup(const std::string& extension) const;

   private:
    void Add(std::initializer_list<const char*> extensions, const char* type);

    std::map<std::string, std::string> m_types;
    std::string m_strDefault = "text/html";
};
