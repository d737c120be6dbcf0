#include "common/RegExp.h"

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "common/DebugPrintf.h"

// Program layout: each node is an opcode unit, a link unit (distance to the next node, 0 for
// none, counted backwards for BACK) and an operand: EXACTLY holds its zero-terminated text,
// ANYOF/ANYBUT hold (from, to) pairs ended by 0, STAR/PLUS hold their single-character node,
// BRANCH holds the first node of its alternative.
namespace {

enum : char16_t {
    END = 0,
    BOL = 1,
    EOL = 2,
    ANY = 3,
    ANYOF = 4,
    ANYBUT = 5,
    BRANCH = 6,
    BACK = 7,
    EXACTLY = 8,
    NOTHING = 9,
    STAR = 10,
    PLUS = 11,
    OPEN = 20,
    CLOSE = 30,
};

enum { WORST = 0, HASWIDTH = 1, SIMPLE = 2 };

constexpr int kMaxGroups = 9;
constexpr int kMaxLink = 0xFFFF;
// Bounds the backtracking recursion so a long text cannot exhaust the stack; a match that
// would go deeper is given up as a whole rather than reported at a later position.
constexpr int kMaxDepth = 10000;
// Bounds the work of one RegExpMatch: nested repeats backtrack exponentially, and a client
// filter is matched on the accept thread. A normal filter needs a few hundred steps.
constexpr long kMaxSteps = 200000;

bool IsQuantifier(char16_t c) {
    return c == u'*' || c == u'+' || c == u'?';
}
bool IsSpecial(char16_t c) {
    return std::u16string_view(u"^$.[()|?+*\\").find(c) != std::u16string_view::npos;
}

int NextNode(const std::vector<char16_t>& code, int node) {
    int distance = code[node + 1];
    if (distance == 0) return -1;
    return code[node] == BACK ? node - distance : node + distance;
}

class CRegCompiler {
   public:
    explicit CRegCompiler(LPCWSTR expression) : m_p(expression) {}

    // False when the expression is invalid or too large for 16-bit links.
    bool Compile(std::vector<char16_t>& code) {
        int flags;
        if (Reg(false, flags) < 0 || m_tooBig) return false;
        code.swap(m_code);
        return true;
    }

   private:
    int Reg(bool paren, int& flags) {
        flags = HASWIDTH;
        int group = 0;
        int ret = -1;
        if (paren) {
            if (m_groups == kMaxGroups) return -1;
            group = ++m_groups;
            ret = Emit(static_cast<char16_t>(OPEN + group));
        }
        for (bool first = true; first || *m_p == u'|'; first = false) {
            if (!first) ++m_p;
            int branchFlags;
            int branch = Branch(branchFlags);
            if (branch < 0) return -1;
            if (ret < 0) {
                ret = branch;
            } else {
                Tail(ret, branch);
            }
            if (!(branchFlags & HASWIDTH)) flags &= ~HASWIDTH;
        }
        int ender = Emit(static_cast<char16_t>(paren ? CLOSE + group : END));
        Tail(ret, ender);
        for (int node = ret; node >= 0; node = NextNode(m_code, node)) OperandTail(node, ender);
        if (paren) {
            if (*m_p != u')') return -1;
            ++m_p;
        } else if (*m_p != 0) {
            return -1;  // a ")" without its "("
        }
        return ret;
    }

    int Branch(int& flags) {
        flags = WORST;
        if (*m_p == u'|' || *m_p == u')') return -1;  // an atom is expected here
        int ret = Emit(BRANCH);
        int chain = -1;
        while (*m_p != 0 && *m_p != u'|' && *m_p != u')') {
            int pieceFlags;
            int latest = Piece(pieceFlags);
            if (latest < 0) return -1;
            flags |= pieceFlags & HASWIDTH;
            if (chain >= 0) Tail(chain, latest);
            chain = latest;
        }
        if (chain < 0) Emit(NOTHING);
        return ret;
    }

    int Piece(int& flags) {
        int atomFlags;
        int ret = Atom(atomFlags);
        if (ret < 0) return -1;
        char16_t op = *m_p;
        if (!IsQuantifier(op)) {
            flags = atomFlags;
            return ret;
        }
        if (!(atomFlags & HASWIDTH) && op != u'?') return -1;  // a loop that could match nothing
        flags = op == u'+' ? HASWIDTH : WORST;
        bool simple = atomFlags & SIMPLE;
        if (op == u'*' && simple) {
            Insert(STAR, ret);
        } else if (op == u'*') {
            // (x loop-back | nothing)
            Insert(BRANCH, ret);
            int back = Emit(BACK);
            OperandTail(ret, back);
            Tail(back, ret);
            Tail(ret, Emit(BRANCH));
            Tail(ret, Emit(NOTHING));
        } else if (op == u'+' && simple) {
            Insert(PLUS, ret);
        } else if (op == u'+') {
            // x (loop-back | nothing)
            int loop = Emit(BRANCH);
            Tail(ret, loop);
            Tail(Emit(BACK), ret);
            Tail(loop, Emit(BRANCH));
            Tail(ret, Emit(NOTHING));
        } else {
            // (x | nothing)
            Insert(BRANCH, ret);
            Tail(ret, Emit(BRANCH));
            int nothing = Emit(NOTHING);
            Tail(ret, nothing);
            OperandTail(ret, nothing);
        }
        ++m_p;
        if (IsQuantifier(*m_p)) return -1;
        return ret;
    }

    int Atom(int& flags) {
        flags = WORST;
        char16_t c = *m_p;
        if (c == 0 || c == u'|' || c == u')' || IsQuantifier(c)) return -1;
        ++m_p;
        switch (c) {
            case u'^': return Emit(BOL);
            case u'$': return Emit(EOL);
            case u'.': flags |= HASWIDTH | SIMPLE; return Emit(ANY);
            case u'[': flags |= HASWIDTH | SIMPLE; return Set();
            case u'(': {
                int groupFlags;
                int ret = Reg(true, groupFlags);
                flags |= groupFlags & HASWIDTH;
                return ret;
            }
            case u'\\': {
                if (*m_p == 0) return -1;
                flags |= HASWIDTH | SIMPLE;
                return Literal(m_p++, 1);
            }
            default: {
                --m_p;
                size_t length = 0;
                while (m_p[length] != 0 && !IsSpecial(m_p[length])) ++length;
                if (length > 1 && IsQuantifier(m_p[length])) --length;  // the quantifier takes one
                flags |= HASWIDTH | (length == 1 ? SIMPLE : 0);
                int ret = Literal(m_p, length);
                m_p += length;
                return ret;
            }
        }
    }

    int Literal(const char16_t* text, size_t length) {
        int ret = Emit(EXACTLY);
        m_code.insert(m_code.end(), text, text + length);
        m_code.push_back(0);
        return ret;
    }

    // After the "[".
    int Set() {
        char16_t op = ANYOF;
        if (*m_p == u'^') {
            op = ANYBUT;
            ++m_p;
        }
        int ret = Emit(op);
        if (*m_p == u']' || *m_p == u'-') {
            AddRange(*m_p, *m_p);
            ++m_p;
        }
        while (*m_p != 0 && *m_p != u']') {
            if (*m_p != u'-') {
                AddRange(*m_p, *m_p);
                ++m_p;
                continue;
            }
            ++m_p;
            if (*m_p == u']' || *m_p == 0) {
                AddRange(u'-', u'-');
                continue;
            }
            char16_t from = m_p[-2];
            char16_t to = *m_p++;
            if (from > to) return -1;
            AddRange(from, to);
        }
        if (*m_p != u']') return -1;
        ++m_p;
        m_code.push_back(0);
        return ret;
    }

    void AddRange(char16_t from, char16_t to) {
        m_code.push_back(from);
        m_code.push_back(to);
    }

    int Emit(char16_t op) {
        int at = static_cast<int>(m_code.size());
        m_code.push_back(op);
        m_code.push_back(0);
        return at;
    }

    // Puts a node in front of the operand that starts at 'at' (links are relative, so the
    // moved nodes stay linked).
    void Insert(char16_t op, int at) { m_code.insert(m_code.begin() + at, {op, char16_t{0}}); }

    // Links the last node of the chain that starts at node to target.
    void Tail(int node, int target) {
        for (int next = NextNode(m_code, node); next >= 0; next = NextNode(m_code, next)) node = next;
        int distance = m_code[node] == BACK ? node - target : target - node;
        if (distance <= 0 || distance > kMaxLink) {
            m_tooBig = true;
            return;
        }
        m_code[node + 1] = static_cast<char16_t>(distance);
    }

    void OperandTail(int node, int target) {
        if (m_code[node] == BRANCH) Tail(node + 2, target);
    }

    const char16_t* m_p;
    int m_groups = 0;
    bool m_tooBig = false;
    std::vector<char16_t> m_code;
};

class CRegMatcher {
   public:
    CRegMatcher(const std::vector<char16_t>& code, const char16_t* text) : m_code(code), m_text(text) {}

    bool Try(const char16_t* at) {
        m_depth = 0;
        return Match(0, at);
    }
    // End of the last successful Try.
    const char16_t* End() const { return m_end; }
    // True once a Try hit the depth or step bound; no later Try can be trusted to be leftmost.
    bool GaveUp() const { return m_gaveUp; }

   private:
    bool Match(int node, const char16_t* pos) {
        if (m_depth == kMaxDepth || ++m_steps > kMaxSteps) m_gaveUp = true;
        if (m_gaveUp) return false;
        ++m_depth;
        bool matched = Follow(node, pos);
        --m_depth;
        return matched;
    }

    bool Follow(int node, const char16_t* pos) {
        while (node >= 0) {
            char16_t op = m_code[node];
            int next = NextNode(m_code, node);
            switch (op) {
                case END: m_end = pos; return true;
                case BOL:
                    if (pos != m_text) return false;
                    break;
                case EOL:
                    if (*pos != 0) return false;
                    break;
                case ANY:
                    if (*pos == 0) return false;
                    ++pos;
                    break;
                case EXACTLY:
                    for (const char16_t* literal = &m_code[node + 2]; *literal; ++literal, ++pos) {
                        if (*pos != *literal) return false;
                    }
                    break;
                case ANYOF:
                case ANYBUT:
                    if (*pos == 0 || InSet(node, *pos) != (op == ANYOF)) return false;
                    ++pos;
                    break;
                case BRANCH:
                    if (next < 0 || m_code[next] != BRANCH) {
                        next = node + 2;  // one alternative: no choice to remember
                        break;
                    }
                    return Alternatives(node, pos);
                case STAR:
                case PLUS: return Repeat(node, next, pos, op == STAR ? 0 : 1);
                default: break;  // NOTHING, BACK, group start and end: nothing to check
            }
            node = next;
        }
        return false;
    }

    bool Alternatives(int node, const char16_t* pos) {
        for (; node >= 0 && m_code[node] == BRANCH; node = NextNode(m_code, node)) {
            if (Match(node + 2, pos)) return true;
        }
        return false;
    }

    // Greedy: take as many as possible, then give back one at a time.
    bool Repeat(int node, int next, const char16_t* pos, size_t minimum) {
        char16_t nextChar = next >= 0 && m_code[next] == EXACTLY ? m_code[next + 2] : 0;
        size_t count = CountRun(node + 2, pos);
        for (size_t n = count + 1; n-- > minimum;) {
            if ((nextChar == 0 || pos[n] == nextChar) && Match(next, pos + n)) return true;
        }
        return false;
    }

    size_t CountRun(int node, const char16_t* pos) const {
        size_t n = 0;
        char16_t op = m_code[node];
        if (op == ANY) {
            while (pos[n] != 0) ++n;
        } else if (op == EXACTLY) {
            while (pos[n] != 0 && pos[n] == m_code[node + 2]) ++n;
        } else {
            while (pos[n] != 0 && InSet(node, pos[n]) == (op == ANYOF)) ++n;
        }
        return n;
    }

    bool InSet(int node, char16_t c) const {
        for (int at = node + 2; m_code[at] != 0; at += 2) {
            if (m_code[at] <= c && c <= m_code[at + 1]) return true;
        }
        return false;
    }

    const std::vector<char16_t>& m_code;
    const char16_t* m_text;
    const char16_t* m_end = nullptr;
    int m_depth = 0;
    long m_steps = 0;  // over every Try of one match
    bool m_gaveUp = false;
};

}  // namespace

struct REGEXP {
    std::u16string source;
    std::vector<char16_t> program;
    char16_t firstChar = 0;
    bool anchored = false;
    std::u16string mustContain;
    std::u16string matchText;
};

namespace {

// One line per expression that gives up, not one per address it is matched against.
void NoteGaveUp(const REGEXP& prog) {
    static std::mutex lock;
    static std::u16string* lastLogged = new std::u16string;
    std::lock_guard<std::mutex> guard(lock);
    if (*lastLogged == prog.source) return;
    *lastLogged = prog.source;
    g_DebugPrintf.Print(u"Regular expression too complex, match given up: %s", prog.source.c_str());
}

// Start facts of a program with one top-level branch: they only save work, never change results.
void Analyse(REGEXP& prog) {
    const std::vector<char16_t>& code = prog.program;
    if (code[NextNode(code, 0)] != END) return;
    const int first = 2;
    if (code[first] == EXACTLY) prog.firstChar = code[first + 2];
    if (code[first] == BOL) prog.anchored = true;
    // Literals on the branch's own chain are part of every match.
    for (int node = first; node >= 0; node = NextNode(code, node)) {
        if (code[node] != EXACTLY) continue;
        std::u16string_view literal(&code[node + 2]);
        if (literal.size() >= prog.mustContain.size()) prog.mustContain = literal;
    }
}

}  // namespace

REGEXP* RegExpCompile(LPCWSTR expression) {
    if (!expression) return nullptr;
    REGEXP* prog = new REGEXP;
    prog->source = expression;
    if (!CRegCompiler(expression).Compile(prog->program)) {
        delete prog;
        return nullptr;
    }
    Analyse(*prog);
    return prog;
}

int RegExpMatch(REGEXP* prog, LPCWSTR text) {
    if (!prog || !text) return -1;
    prog->matchText.clear();
    std::u16string_view whole(text);
    if (!prog->mustContain.empty() && whole.find(prog->mustContain) == std::u16string_view::npos) return -1;
    CRegMatcher matcher(prog->program, text);
    for (size_t at = 0; at <= whole.size(); ++at) {
        if (prog->anchored && at > 0) break;
        if (prog->firstChar && (at == whole.size() || whole[at] != prog->firstChar)) continue;
        if (!matcher.Try(text + at)) {
            if (!matcher.GaveUp()) continue;
            NoteGaveUp(*prog);
            return -1;
        }
        prog->matchText.assign(text + at, matcher.End());
        return static_cast<int>(at);
    }
    return -1;
}

CString RegExpMatchText(const REGEXP* prog) {
    return prog ? CString(prog->matchText.c_str()) : CString();
}

void RegExpFree(REGEXP* prog) {
    delete prog;
}
