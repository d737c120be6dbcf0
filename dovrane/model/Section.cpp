#include "dovrane/model/Section.h"

CSection::CSection(const CString& name, const CString& comment, int state)
    : m_nState(state), m_strComment(comment), m_strName(name) {}
