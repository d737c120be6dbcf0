#include "dovrane/web/MimeTable.h"

// A later line for the same extension wins ("arj", "rtf").
CMimeTable::CMimeTable() {
    Add({"doc"}, "application/msword");
    Add({"bin", "dll", "exe"}, "application/octet-stream");
    Add({"pdf"}, "application/pdf");
    Add({"p7c"}, "application/pkcs7-mime");
    Add({"ai", "eps", "ps"}, "application/postscript");
    Add({"rtf"}, "application/rtf");
    Add({"fdf"}, "application/vnd.fdf");
    Add({"arj"}, "application/x-arj");
    Add({"gz"}, "application/x-gzip");
    Add({"class"}, "application/x-java-class");
    Add({"js"}, "application/x-javascript");
    Add({"lzh"}, "application/x-lzh");
    Add({"lnk"}, "application/x-ms-shortcut");
    Add({"tar"}, "application/x-tar");
    Add({"hlp"}, "application/x-winhelp");
    Add({"cert"}, "application/x-x509-ca-cert");
    Add({"zip"}, "application/zip");
    Add({"cab", "arj"}, "application/x-compressed");
    Add({"aif", "aifc", "aiff"}, "audio/aiff");
    Add({"au", "snd"}, "audio/basic");
    Add({"mid", "rmi"}, "audio/midi");
    Add({"mp3"}, "audio/mpeg");
    Add({"vox"}, "audio/voxware");
    Add({"wav"}, "audio/wav");
    Add({"ra", "ram"}, "audio/x-pn-realaudio");
    Add({"bmp"}, "image/bmp");
    Add({"gif"}, "image/gif");
    Add({"jpeg", "jpg"}, "image/jpeg");
    Add({"tif", "tiff"}, "image/tiff");
    Add({"xbm"}, "image/xbm");
    Add({"wrl"}, "model/vrml");
    Add({"htm"}, "text/html;");
    Add({"html"}, "text/html");
    Add({"c", "cpp", "def", "h", "txt"}, "text/plain");
    Add({"rtx", "rtf"}, "text/richtext");
    Add({"java"}, "text/x-java-source");
    Add({"css"}, "text/css");
    Add({"mpeg", "mpg", "mpe"}, "video/mpeg");
    Add({"avi"}, "video/msvideo");
    Add({"mov", "qt"}, "video/quicktime");
    Add({"shtml"}, "wwwserver/html-ssi");
    Add({"asa", "asp", "cfm", "dbm", "isa", "plx", "url", "cgi", "php", "wcgi"}, "wwwserver/isapi");
}

void CMimeTable::Add(std::initializer_list<const char*> extensions, const char* type) {
    for (const char* extension : extensions) m_types[extension] = type;
}

const std::string& CMimeTable::Lookup(const std::string& extension) const {
    auto found = m_types.find(extension);
    return found == m_types.end() ? m_strDefault : found->second;
}
