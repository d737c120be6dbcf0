#include "platform/host/TaskStore.h"

#include <signal.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "platform/base/TextConvert.h"
#include "platform/host/EmulationRoot.h"

namespace zbw {

namespace {

std::string Escape(const CString& text) {
    std::string out;
    for (char c : ToUtf8(text)) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

CString Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\\' && i + 1 < text.size()) {
            char next = text[++i];
            c = next == 't' ? '\t' : next == 'n' ? '\n' : next;
        }
        out += c;
    }
    return FromUtf8(out);
}

// Splits an escaped line at its unescaped tabs.
std::vector<CString> Fields(const std::string& line) {
    std::vector<CString> fields;
    std::string field;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size()) {
            field += line[i];
            field += line[++i];
        } else if (line[i] == '\t') {
            fields.push_back(Unescape(field));
            field.clear();
        } else {
            field += line[i];
        }
    }
    fields.push_back(Unescape(field));
    return fields;
}

CString FieldAt(const std::vector<CString>& fields, size_t i) {
    return i < fields.size() ? fields[i] : CString();
}

bool WriteWhole(const std::string& file, const std::string& text) {
    std::string temporary = file + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), file.c_str()) == 0;
}

void ApplyLine(const std::string& key, const std::string& value, TASKDATA& data) {
    if (key == "Author")
        data.author = Unescape(value);
    else if (key == "Description")
        data.description = Unescape(value);
    else if (key == "RunLevel")
        data.runLevel = std::atoi(value.c_str());
    else if (key == "PrincipalUser")
        data.principalUser = Unescape(value);
    else if (key == "Enabled")
        data.enabled = value == "1";
    else if (key == "StartWhenAvailable")
        data.startWhenAvailable = value == "1";
    else if (key == "DisallowStartIfOnBatteries")
        data.disallowStartIfOnBatteries = value == "1";
    else if (key == "AllowHardTerminate")
        data.allowHardTerminate = value == "1";
    else if (key == "ExecutionTimeLimit")
        data.executionTimeLimit = Unescape(value);
    else if (key == "Trigger") {
        std::vector<CString> f = Fields(value);
        data.triggers.push_back({std::atoi(ToUtf8(FieldAt(f, 0)).c_str()), FieldAt(f, 1), FieldAt(f, 2),
                                 FieldAt(f, 3), FieldAt(f, 4) != u"0"});
    } else if (key == "Action") {
        std::vector<CString> f = Fields(value);
        data.actions.push_back(
            {std::atoi(ToUtf8(FieldAt(f, 0)).c_str()), FieldAt(f, 1), FieldAt(f, 2), FieldAt(f, 3)});
    }
}

std::vector<int> ReadPids(const std::string& runFile) {
    std::vector<int> pids;
    std::ifstream in(runFile);
    for (int pid; in >> pid;)
        if (pid > 0) pids.push_back(pid);
    return pids;
}

}  // namespace

bool SplitTaskPath(LPCWSTR path, std::vector<CString>& names) {
    CString name;
    for (const char16_t* p = path ? path : u"";; ++p) {
        if (*p == u'\\' || *p == 0) {
            if (name == u"." || name == u"..") return false;
            if (!name.IsEmpty()) names.push_back(name);
            name.Empty();
            if (*p == 0) return true;
        } else if (*p == u'/') {
            return false;
        } else {
            name += *p;
        }
    }
}

CString JoinTaskPath(const std::vector<CString>& names) {
    CString path;
    for (const CString& name : names) path += u"\\" + name;
    return path.IsEmpty() ? CString(u"\\") : path;
}

std::string TaskFolderHostPath(const std::vector<CString>& names) {
    std::string path = MachineSubdir("tasks");
    for (const CString& name : names) path += "/" + ToUtf8(name);
    return path;
}

std::string TaskHostFile(const std::string& folder, const CString& name) {
    return folder + "/" + ToUtf8(name) + ".task";
}

bool ReadTaskFile(const std::string& file, TASKDATA& data) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    data = TASKDATA();
    for (std::string line; std::getline(in, line);) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) ApplyLine(line.substr(0, equals), line.substr(equals + 1), data);
    }
    return true;
}

bool WriteTaskFile(const std::string& file, const TASKDATA& data) {
    std::ostringstream out;
    out << "Author=" << Escape(data.author) << "\nDescription=" << Escape(data.description)
        << "\nRunLevel=" << data.runLevel << "\nPrincipalUser=" << Escape(data.principalUser)
        << "\nEnabled=" << data.enabled << "\nStartWhenAvailable=" << data.startWhenAvailable
        << "\nDisallowStartIfOnBatteries=" << data.disallowStartIfOnBatteries
        << "\nAllowHardTerminate=" << data.allowHardTerminate
        << "\nExecutionTimeLimit=" << Escape(data.executionTimeLimit) << "\n";
    for (const TASKTRIGGERDATA& t : data.triggers)
        out << "Trigger=" << t.type << "\t" << Escape(t.id) << "\t" << Escape(t.startBoundary) << "\t"
            << Escape(t.userId) << "\t" << t.enabled << "\n";
    for (const TASKACTIONDATA& a : data.actions)
        out << "Action=" << a.type << "\t" << Escape(a.path) << "\t" << Escape(a.arguments) << "\t"
            << Escape(a.workingDirectory) << "\n";
    return WriteWhole(file, out.str());
}

std::vector<int> LiveTaskProcesses(const std::string& taskFile) {
    std::vector<int> live;
    for (int pid : ReadPids(taskFile + ".run"))
        if (kill(pid, 0) == 0) live.push_back(pid);
    return live;
}

void AddTaskProcess(const std::string& taskFile, int pid) {
    std::ostringstream out;
    for (int live : LiveTaskProcesses(taskFile)) out << live << "\n";
    out << pid << "\n";
    WriteWhole(taskFile + ".run", out.str());
}

void StopTaskProcesses(const std::string& taskFile) {
    for (int pid : LiveTaskProcesses(taskFile)) kill(pid, SIGTERM);
    std::remove((taskFile + ".run").c_str());
}

}  // namespace zbw
