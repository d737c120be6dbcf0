#include "dovrane/model/PerStringOfBools.h"

#include "common/MultiFoldersParser.h"

CPerStringOfBools& CPerStringOfBools::operator=(const CPerStringOfBools& other) {
    CPerString::operator=(other);
    m_Flags.Copy(other.m_Flags);
    return *this;
}

void CPerStringOfBools::SplitValues() {
    m_Flags.RemoveAll();
    CMultiFoldersParser parser;
    parser.SetText(m_strLoaded, u"|");
    CString part;
    while (parser.GetNext(part)) m_Flags.Add(part == u"1" ? 1 : 0);
}

void CPerStringOfBools::SetFirstFlag() {
    SplitValues();
    if (m_Flags.IsEmpty()) m_Flags.Add(0);
    m_Flags[0] = 1;
    CString text;
    for (INT_PTR i = 0; i < m_Flags.GetSize(); ++i) {
        if (i > 0) text += u'|';
        text += m_Flags[i] ? u'1' : u'0';
    }
    m_strLoaded = text;
}
