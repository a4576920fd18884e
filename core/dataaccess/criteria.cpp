#include "criteria.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <numeric>

#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace zentra {

const wchar_t* const kBadCriteria =
    L"Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";

namespace {

const wchar_t* const kNoColumn =
    L"Item cannot be found in the collection corresponding to the requested name or ordinal.";

// ---- numbers ----

std::string Narrow(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t ch : text) out.push_back(ch > 0 && ch < 0x80 ? static_cast<char>(ch) : '\x7f');
    return out;
}

// A number in plain decimal notation: [sign] digits [. digits], at least one digit.
struct PlainParts {
    bool negative = false;
    std::string_view whole;     // without leading zeros
    std::string_view fraction;  // without trailing zeros
};

bool SplitPlain(std::string_view s, PlainParts& parts) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) parts.negative = s[i++] == '-';
    const std::size_t wholeStart = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
    std::string_view whole = s.substr(wholeStart, i - wholeStart);
    std::string_view fraction;
    if (i < s.size() && s[i] == '.') {
        const std::size_t start = ++i;
        while (i < s.size() && s[i] >= '0' && s[i] <= '9') ++i;
        fraction = s.substr(start, i - start);
    }
    if (i != s.size() || (whole.empty() && fraction.empty())) return false;
    while (!whole.empty() && whole.front() == '0') whole.remove_prefix(1);
    while (!fraction.empty() && fraction.back() == '0') fraction.remove_suffix(1);
    parts.whole = whole;
    parts.fraction = fraction;
    if (whole.empty() && fraction.empty()) parts.negative = false;  // -0 is 0
    return true;
}

int CompareMagnitude(const PlainParts& a, const PlainParts& b) {
    if (a.whole.size() != b.whole.size()) return a.whole.size() < b.whole.size() ? -1 : 1;
    if (int c = a.whole.compare(b.whole)) return c < 0 ? -1 : 1;
    if (int c = a.fraction.compare(b.fraction)) return c < 0 ? -1 : 1;
    return 0;
}

// Compares two numbers in plain decimal notation exactly; `ok` false when either is not one.
int CompareDecimalText(std::string_view a, std::string_view b, bool& ok) {
    PlainParts pa, pb;
    ok = SplitPlain(a, pa) && SplitPlain(b, pb);
    if (!ok) return 0;
    if (pa.negative != pb.negative) return pa.negative ? -1 : 1;
    const int c = CompareMagnitude(pa, pb);
    return pa.negative ? -c : c;
}

// A number literal ([sign] digits [. digits] [E [sign] digits]) in plain decimal notation.
bool LiteralToPlain(std::wstring_view literal, std::string& out) {
    const std::string s = Narrow(Trim(literal));
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    std::string digits;
    long point = -1;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9') digits.push_back(s[i]);
        else if (s[i] == '.' && point < 0) point = static_cast<long>(digits.size());
        else break;
    }
    if (digits.empty()) return false;
    long exponent = 0;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        const char* first = s.data() + i;
        if (i < s.size() && s[i] == '+') ++first;
        auto [end, ec] = std::from_chars(first, s.data() + s.size(), exponent);
        if (ec != std::errc() || end == first) return false;
        i = static_cast<std::size_t>(end - s.data());
        if (exponent < -400 || exponent > 400) return false;
    }
    if (i != s.size()) return false;
    const long wholeDigits = (point < 0 ? static_cast<long>(digits.size()) : point) + exponent;
    std::string text;
    if (wholeDigits <= 0) {
        text = "0." + std::string(static_cast<std::size_t>(-wholeDigits), '0') + digits;
    } else if (wholeDigits >= static_cast<long>(digits.size())) {
        text = digits + std::string(static_cast<std::size_t>(wholeDigits) - digits.size(), '0');
    } else {
        text = digits.substr(0, static_cast<std::size_t>(wholeDigits)) + "." +
               digits.substr(static_cast<std::size_t>(wholeDigits));
    }
    out = negative ? "-" + text : text;
    return true;
}

// OLE dates before day 0 count the time of day away from zero; this makes them one line.
double LinearDate(double d) {
    if (d >= 0) return d;
    const double whole = std::trunc(d);
    return whole + (whole - d);
}

// NaN after every number, equal to itself.
int CompareReal(double a, double b) {
    const bool na = std::isnan(a), nb = std::isnan(b);
    if (na || nb) return na == nb ? 0 : na ? 1 : -1;
    return a < b ? -1 : a > b ? 1 : 0;
}

template <class T>
int Compare3(T a, T b) {
    return a < b ? -1 : a > b ? 1 : 0;
}

// ---- tokens ----

enum class Tok { End, LParen, RParen, Comma, Name, Word, Op, Number, String, Date };

struct Token {
    Tok type = Tok::End;
    std::wstring text;
};

bool IsWordBreak(wchar_t ch) {
    return IsBlank(ch) || ch == L'(' || ch == L')' || ch == L',' || ch == L'<' || ch == L'>' || ch == L'=' ||
           ch == L'[' || ch == L'\'' || ch == L'#';
}

bool Tokenize(std::wstring_view s, std::vector<Token>& tokens) {
    std::size_t i = 0;
    const std::size_t n = s.size();
    auto digitAt = [&](std::size_t k) { return k < n && s[k] >= L'0' && s[k] <= L'9'; };
    while (true) {
        while (i < n && IsBlank(s[i])) ++i;
        if (i >= n) break;
        const wchar_t ch = s[i];
        Token t;
        if (ch == L'(' || ch == L')' || ch == L',') {
            t.type = ch == L'(' ? Tok::LParen : ch == L')' ? Tok::RParen : Tok::Comma;
            ++i;
        } else if (ch == L'[') {
            const std::size_t close = s.find(L']', i + 1);
            if (close == std::wstring_view::npos) return false;
            t.type = Tok::Name;
            t.text = std::wstring(s.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (ch == L'\'') {
            t.type = Tok::String;
            ++i;
            bool closed = false;
            while (i < n) {
                if (s[i] == L'\'') {
                    if (i + 1 < n && s[i + 1] == L'\'') {
                        t.text.push_back(L'\'');
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                t.text.push_back(s[i++]);
            }
            if (!closed) return false;
        } else if (ch == L'#') {
            const std::size_t close = s.find(L'#', i + 1);
            if (close == std::wstring_view::npos) return false;
            t.type = Tok::Date;
            t.text = std::wstring(s.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (ch == L'<' || ch == L'>' || ch == L'=') {
            t.type = Tok::Op;
            t.text.push_back(ch);
            ++i;
            if (ch != L'=' && i < n && (s[i] == L'=' || (ch == L'<' && s[i] == L'>'))) t.text.push_back(s[i++]);
        } else if (digitAt(i) || (ch == L'.' && digitAt(i + 1)) ||
                   ((ch == L'-' || ch == L'+') &&
                    (digitAt(i + 1) || (i + 1 < n && s[i + 1] == L'.' && digitAt(i + 2))))) {
            t.type = Tok::Number;
            const std::size_t start = i++;
            while (i < n && !IsWordBreak(s[i])) {
                // An exponent may carry its own sign.
                if ((s[i] == L'-' || s[i] == L'+') && !(s[i - 1] == L'e' || s[i - 1] == L'E')) break;
                ++i;
            }
            t.text = std::wstring(s.substr(start, i - start));
        } else {
            t.type = Tok::Word;
            const std::size_t start = i;
            while (i < n && !IsWordBreak(s[i])) ++i;
            t.text = std::wstring(s.substr(start, i - start));
        }
        tokens.push_back(std::move(t));
    }
    tokens.push_back(Token{});
    return true;
}

bool IsKeyword(const Token& t, const wchar_t* word) { return t.type == Tok::Word && EqualsNoCase(t.text, word); }

long ColumnIndex(const RowSet& rows, const std::wstring& name) {
    for (std::size_t i = 0; i < rows.columns.size(); ++i)
        if (EqualsNoCase(rows.columns[i].name, name)) return static_cast<long>(i);
    return -1;
}

}  // namespace

// ---- comparisons ----

namespace {

enum class Op { Eq, Ne, Lt, Gt, Le, Ge, Like, IsNull, IsNotNull };

struct Comparison {
    std::size_t column = 0;
    ValueKind kind = ValueKind::Text;
    Op op = Op::Eq;
    // The value, in the form that suits the column's kind.
    std::string number;    // Int, UInt, Decimal: plain decimal text
    bool haveInt = false;  // Int: `number` fits a 64-bit integer
    std::int64_t intValue = 0;
    bool haveUInt = false;  // UInt: `number` fits an unsigned 64-bit integer
    std::uint64_t uintValue = 0;
    double real = 0;    // Float, Double; dates as LinearDate
    bool flag = false;  // Bool
    std::wstring text;  // Text; the LIKE pattern without its wildcards
    enum class Like { Exact, Prefix, Contains } like = Like::Exact;
};

bool Holds(Op op, int c) {
    switch (op) {
    case Op::Eq: return c == 0;
    case Op::Ne: return c != 0;
    case Op::Lt: return c < 0;
    case Op::Gt: return c > 0;
    case Op::Le: return c <= 0;
    case Op::Ge: return c >= 0;
    default: return false;
    }
}

bool Evaluate(const Comparison& cmp, const RowSet& rows) {
    const std::size_t col = cmp.column;
    const bool null = rows.IsNull(col);
    if (cmp.op == Op::IsNull) return null;
    if (cmp.op == Op::IsNotNull) return !null;
    if (null) return false;
    if (cmp.op == Op::Like) {
        const std::wstring value = rows.Text(col);
        switch (cmp.like) {
        case Comparison::Like::Exact: return EqualsNoCase(value, cmp.text);
        case Comparison::Like::Prefix:
            return value.size() >= cmp.text.size() &&
                   EqualsNoCase(std::wstring_view(value).substr(0, cmp.text.size()), cmp.text);
        case Comparison::Like::Contains: return FindNoCase(value, cmp.text) != std::wstring::npos;
        }
        return false;
    }
    int c = 0;
    switch (cmp.kind) {
    case ValueKind::Int: {
        const std::int64_t v = rows.Value(col).intVal();
        if (cmp.haveInt) {
            c = Compare3(v, cmp.intValue);
        } else {
            bool ok = false;
            c = CompareDecimalText(std::to_string(v), cmp.number, ok);
            if (!ok) return false;
        }
        break;
    }
    case ValueKind::UInt: {
        const std::uint64_t v = rows.Value(col).uintVal();
        if (cmp.haveUInt) {
            c = Compare3(v, cmp.uintValue);
        } else {
            bool ok = false;
            c = CompareDecimalText(std::to_string(v), cmp.number, ok);
            if (!ok) return false;
        }
        break;
    }
    case ValueKind::Decimal: {
        bool ok = false;
        c = CompareDecimalText(Narrow(rows.Text(col)), cmp.number, ok);
        if (!ok) return false;  // NaN and the like meet no comparison
        break;
    }
    case ValueKind::Float:
    case ValueKind::Double: {
        const double v = rows.Value(col).dblVal();
        if (std::isnan(v)) return false;
        c = CompareReal(v, cmp.real);
        break;
    }
    case ValueKind::Bool: c = Compare3(rows.Value(col).boolVal() ? 1 : 0, cmp.flag ? 1 : 0); break;
    case ValueKind::Text: c = CompareNoCase(rows.Text(col), cmp.text); break;
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: c = CompareReal(LinearDate(rows.Value(col).dblVal()), cmp.real); break;
    case ValueKind::Bytes: return false;
    }
    return Holds(cmp.op, c);
}

}  // namespace

struct Criteria::Node {
    enum class Kind { Leaf, And, Or } kind = Kind::Leaf;
    Comparison leaf;
    std::unique_ptr<Node> left, right;
};

namespace {

bool NodeMatches(const Criteria::Node& node, const RowSet& rows) {
    switch (node.kind) {
    case Criteria::Node::Kind::Leaf: return Evaluate(node.leaf, rows);
    case Criteria::Node::Kind::And: return NodeMatches(*node.left, rows) && NodeMatches(*node.right, rows);
    case Criteria::Node::Kind::Or: return NodeMatches(*node.left, rows) || NodeMatches(*node.right, rows);
    }
    return false;
}

class Parser {
public:
    Parser(std::vector<Token> tokens, const RowSet& rows, CriteriaError& error)
        : tokens_(std::move(tokens)), rows_(rows), error_(error) {}

    const Token& Peek() const { return tokens_[pos_]; }
    const Token& Next() { return tokens_[pos_ < tokens_.size() - 1 ? pos_++ : pos_]; }
    bool AtEnd() const { return Peek().type == Tok::End; }

    bool Fail(const wchar_t* text = kBadCriteria) {
        if (error_.text.empty()) {
            error_.text = text;
            error_.code = ZE_INVALIDARG;
        }
        return false;
    }

    std::unique_ptr<Criteria::Node> Or() {
        auto left = And();
        while (left && IsKeyword(Peek(), L"OR")) {
            Next();
            auto right = And();
            if (!right) return nullptr;
            left = Join(Criteria::Node::Kind::Or, std::move(left), std::move(right));
        }
        return left;
    }

    std::unique_ptr<Criteria::Node> And() {
        auto left = Primary();
        while (left && IsKeyword(Peek(), L"AND")) {
            Next();
            auto right = Primary();
            if (!right) return nullptr;
            left = Join(Criteria::Node::Kind::And, std::move(left), std::move(right));
        }
        return left;
    }

    std::unique_ptr<Criteria::Node> Primary() {
        if (Peek().type == Tok::LParen) {
            // The tree is walked recursively: bound its depth.
            if (++nesting_ > kMaxNesting) return Fail(), nullptr;
            Next();
            auto inner = Or();
            if (!inner) return nullptr;
            if (Next().type != Tok::RParen) return Fail(), nullptr;
            --nesting_;
            return inner;
        }
        if (++leaves_ > kMaxComparisons) return Fail(), nullptr;
        auto node = std::make_unique<Criteria::Node>();
        if (!Leaf(node->leaf)) return nullptr;
        return node;
    }

    bool Leaf(Comparison& cmp) {
        const Token& name = Next();
        if (name.type != Tok::Name && name.type != Tok::Word) return Fail();
        const long column = ColumnIndex(rows_, name.text);
        if (column < 0) return Fail(kNoColumn);
        cmp.column = static_cast<std::size_t>(column);
        cmp.kind = rows_.columns[cmp.column].kind;
        const Token& op = Next();
        if (IsKeyword(op, L"IS")) {
            bool negated = false;
            if (IsKeyword(Peek(), L"NOT")) {
                Next();
                negated = true;
            }
            if (!IsKeyword(Next(), L"NULL")) return Fail();
            cmp.op = negated ? Op::IsNotNull : Op::IsNull;
            return true;
        }
        if (IsKeyword(op, L"LIKE")) {
            cmp.op = Op::Like;
            const Token& pattern = Next();
            if (pattern.type != Tok::String) return Fail();
            return LikePattern(pattern.text, cmp);
        }
        if (op.type != Tok::Op) return Fail();
        cmp.op = op.text == L"="    ? Op::Eq
                 : op.text == L"<>" ? Op::Ne
                 : op.text == L"<"  ? Op::Lt
                 : op.text == L">"  ? Op::Gt
                 : op.text == L"<=" ? Op::Le
                                    : Op::Ge;
        const Token& value = Next();
        if (IsKeyword(value, L"NULL")) {
            if (cmp.op != Op::Eq && cmp.op != Op::Ne) return Fail();
            cmp.op = cmp.op == Op::Eq ? Op::IsNull : Op::IsNotNull;
            return true;
        }
        return Literal(value, cmp);
    }

    static bool LikePattern(const std::wstring& pattern, Comparison& cmp) {
        auto wild = [](wchar_t ch) { return ch == L'*' || ch == L'%'; };
        std::wstring_view body = pattern;
        const bool trailing = !body.empty() && wild(body.back());
        if (trailing) body.remove_suffix(1);
        const bool leading = !body.empty() && wild(body.front());
        if (leading) body.remove_prefix(1);
        // Wildcards only at the end, or at both ends.
        if (leading && !trailing) return false;
        if (std::any_of(body.begin(), body.end(), wild)) return false;
        cmp.text = std::wstring(body);
        cmp.like = leading ? Comparison::Like::Contains : trailing ? Comparison::Like::Prefix : Comparison::Like::Exact;
        return true;
    }

    bool Numeric(const std::wstring& literal, Comparison& cmp) {
        if (!LiteralToPlain(literal, cmp.number)) return false;
        const char* first = cmp.number.data();
        const char* last = first + cmp.number.size();
        if (cmp.kind == ValueKind::Int) {
            auto [end, ec] = std::from_chars(first, last, cmp.intValue);
            cmp.haveInt = ec == std::errc() && end == last;
        } else if (cmp.kind == ValueKind::UInt && cmp.number[0] != '-') {
            auto [end, ec] = std::from_chars(first, last, cmp.uintValue);
            cmp.haveUInt = ec == std::errc() && end == last;
        }
        return true;
    }

    bool Real(const std::wstring& literal, Comparison& cmp) {
        std::string plain;
        if (!LiteralToPlain(literal, plain)) return false;
        const std::string s = Narrow(Trim(literal));
        const char* first = s.data() + (!s.empty() && s[0] == '+');
        auto [end, ec] = std::from_chars(first, s.data() + s.size(), cmp.real);
        if (ec != std::errc() || end != s.data() + s.size()) return false;
        // A single column holds floats: compare with the float nearest to the value.
        if (cmp.kind == ValueKind::Float) cmp.real = static_cast<double>(static_cast<float>(cmp.real));
        return true;
    }

    bool Coerced(const _variant_t& in, _variant_t& out) {
        std::wstring ignored;
        return rows_.Coerce(cmp_column_, in, out, ignored);
    }

    bool Literal(const Token& value, Comparison& cmp) {
        cmp_column_ = cmp.column;
        const ValueKind kind = cmp.kind;
        const bool isTrue = IsKeyword(value, L"TRUE"), isFalse = IsKeyword(value, L"FALSE");
        switch (value.type) {
        case Tok::Number:
        case Tok::String:
        case Tok::Date: break;
        case Tok::Word:
            if (isTrue || isFalse) break;
            return Fail();
        default: return Fail();
        }
        switch (kind) {
        case ValueKind::Int:
        case ValueKind::UInt:
        case ValueKind::Decimal:
            if (value.type == Tok::Date) return Fail();
            if (isTrue || isFalse) return Numeric(isTrue ? L"-1" : L"0", cmp) || Fail();
            return Numeric(value.text, cmp) || Fail();
        case ValueKind::Float:
        case ValueKind::Double:
            if (value.type == Tok::Date) return Fail();
            if (isTrue || isFalse) return Real(isTrue ? L"-1" : L"0", cmp) || Fail();
            return Real(value.text, cmp) || Fail();
        case ValueKind::Bool: {
            if (isTrue || isFalse) {
                cmp.flag = isTrue;
                return true;
            }
            if (value.type == Tok::Date) return Fail();
            if (value.type == Tok::Number) {
                double d = 0;
                Comparison scratch;
                if (!Real(value.text, scratch)) return Fail();
                d = scratch.real;
                cmp.flag = d != 0;
                return true;
            }
            _variant_t out;
            if (!Coerced(_variant_t::Bstr(value.text), out)) return Fail();
            cmp.flag = out.boolVal();
            return true;
        }
        case ValueKind::Text:
            if (isTrue || isFalse) return Fail();
            cmp.text = value.text;
            return true;
        case ValueKind::Date:
        case ValueKind::Time:
        case ValueKind::Timestamp: {
            if (isTrue || isFalse) return Fail();
            _variant_t in;
            if (value.type == Tok::Number) {
                Comparison scratch;
                if (!Real(value.text, scratch)) return Fail();
                in = _variant_t::R8(scratch.real);
            } else {
                in = _variant_t::Bstr(value.text);
            }
            _variant_t out;
            if (!Coerced(in, out) || out.vt() != VT_DATE) return Fail();
            cmp.real = LinearDate(out.dblVal());
            return true;
        }
        case ValueKind::Bytes: return Fail();
        }
        return Fail();
    }

    static std::unique_ptr<Criteria::Node> Join(Criteria::Node::Kind kind, std::unique_ptr<Criteria::Node> left,
                                                std::unique_ptr<Criteria::Node> right) {
        auto node = std::make_unique<Criteria::Node>();
        node->kind = kind;
        node->left = std::move(left);
        node->right = std::move(right);
        return node;
    }

    bool SortKeys(std::vector<SortKey>& keys) {
        while (!AtEnd()) {
            const Token& name = Next();
            if (name.type != Tok::Name && name.type != Tok::Word) return Fail();
            const long column = ColumnIndex(rows_, name.text);
            if (column < 0) return Fail(kNoColumn);
            SortKey key;
            key.column = static_cast<std::size_t>(column);
            if (IsKeyword(Peek(), L"ASC")) {
                Next();
            } else if (IsKeyword(Peek(), L"DESC")) {
                Next();
                key.descending = true;
            }
            keys.push_back(key);
            if (AtEnd()) break;
            if (Next().type != Tok::Comma || AtEnd()) return Fail();
        }
        return true;
    }

private:
    static constexpr int kMaxNesting = 100;
    static constexpr int kMaxComparisons = 1000;
    std::vector<Token> tokens_;
    std::size_t pos_ = 0;
    int nesting_ = 0;
    int leaves_ = 0;
    const RowSet& rows_;
    CriteriaError& error_;
    std::size_t cmp_column_ = 0;
};

}  // namespace

Criteria::Criteria() = default;
Criteria::~Criteria() = default;
Criteria::Criteria(Criteria&&) noexcept = default;
Criteria& Criteria::operator=(Criteria&&) noexcept = default;

bool Criteria::ParseFind(std::wstring_view text, const RowSet& rows, CriteriaError& error) {
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens)) return Parser({Token{}}, rows, error).Fail();
    Parser parser(std::move(tokens), rows, error);
    auto node = std::make_unique<Node>();
    if (!parser.Leaf(node->leaf)) return parser.Fail();
    if (!parser.AtEnd()) return parser.Fail();
    root_ = std::move(node);
    return true;
}

bool Criteria::ParseFilter(std::wstring_view text, const RowSet& rows, CriteriaError& error) {
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens)) return Parser({Token{}}, rows, error).Fail();
    Parser parser(std::move(tokens), rows, error);
    auto node = parser.Or();
    if (!node || !parser.AtEnd()) return parser.Fail();
    root_ = std::move(node);
    return true;
}

bool Criteria::Matches(RowSet& rows, std::size_t row) const {
    if (!root_) return true;
    rows.Load(row);
    return NodeMatches(*root_, rows);
}

// ---- sorting ----

bool ParseSort(std::wstring_view text, const RowSet& rows, std::vector<SortKey>& keys, CriteriaError& error) {
    keys.clear();
    std::vector<Token> tokens;
    if (!Tokenize(text, tokens)) return Parser({Token{}}, rows, error).Fail();
    Parser parser(std::move(tokens), rows, error);
    if (!parser.SortKeys(keys)) {
        keys.clear();
        return false;
    }
    return true;
}

namespace {

struct SortValue {
    bool null = true;
    std::int64_t i = 0;
    std::uint64_t u = 0;
    double d = 0;
    std::wstring text;  // texts folded to lower case once, so comparing them is plain
    std::string bytes;  // binary values; numerics as their ASCII text
};

SortValue SortValueOf(const RowSet& rows, std::size_t col) {
    SortValue v;
    if (rows.IsNull(col)) return v;
    v.null = false;
    switch (rows.columns[col].kind) {
    case ValueKind::Int: v.i = rows.Value(col).intVal(); break;
    case ValueKind::UInt: v.u = rows.Value(col).uintVal(); break;
    case ValueKind::Bool: v.i = rows.Value(col).boolVal() ? 1 : 0; break;
    case ValueKind::Float:
    case ValueKind::Double: v.d = rows.Value(col).dblVal(); break;
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: v.d = LinearDate(rows.Value(col).dblVal()); break;
    case ValueKind::Decimal: v.bytes = Narrow(rows.Text(col)); break;
    case ValueKind::Text:
        v.text = rows.Text(col);
        for (wchar_t& ch : v.text) ch = ToLower(ch);
        break;
    case ValueKind::Bytes: {
        const _variant_t value = rows.Value(col);
        if (const SAFEARRAY* a = value.parray()) v.bytes.assign(a->bytes.begin(), a->bytes.end());
        break;
    }
    }
    return v;
}

int CompareSortValues(ValueKind kind, const SortValue& a, const SortValue& b) {
    if (a.null || b.null) return a.null == b.null ? 0 : a.null ? -1 : 1;
    switch (kind) {
    case ValueKind::Int:
    case ValueKind::Bool: return Compare3(a.i, b.i);
    case ValueKind::UInt: return Compare3(a.u, b.u);
    case ValueKind::Float:
    case ValueKind::Double:
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: return CompareReal(a.d, b.d);
    case ValueKind::Decimal: {
        bool ok = false;
        const int c = CompareDecimalText(a.bytes, b.bytes, ok);
        if (ok) return c;
        // Values that are not plain numbers (NaN) after the numbers.
        PlainParts ignored;
        const bool pa = SplitPlain(a.bytes, ignored), pb = SplitPlain(b.bytes, ignored);
        if (pa != pb) return pa ? -1 : 1;
        return Compare3(a.bytes, b.bytes);
    }
    case ValueKind::Text: {
        // The order CompareNoCase gives, on texts folded beforehand.
        const int c = a.text.compare(b.text);
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    case ValueKind::Bytes: {
        const int c = a.bytes.compare(b.bytes);  // bytes compare as unsigned char
        return c < 0 ? -1 : c > 0 ? 1 : 0;
    }
    }
    return 0;
}

}  // namespace

void SortRows(RowSet& rows, std::vector<std::size_t>& view, const std::vector<SortKey>& keys) {
    if (keys.empty() || view.size() < 2) return;
    const std::size_t n = view.size(), k = keys.size();
    std::vector<SortValue> values(n * k);
    for (std::size_t r = 0; r < n; ++r) {
        rows.Load(view[r]);
        for (std::size_t j = 0; j < k; ++j) values[r * k + j] = SortValueOf(rows, keys[j].column);
    }
    std::vector<std::size_t> order(n);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        for (std::size_t j = 0; j < k; ++j) {
            int c = CompareSortValues(rows.columns[keys[j].column].kind, values[a * k + j], values[b * k + j]);
            if (keys[j].descending) c = -c;
            if (c != 0) return c < 0;
        }
        return false;
    });
    std::vector<std::size_t> sorted(n);
    for (std::size_t r = 0; r < n; ++r) sorted[r] = view[order[r]];
    view = std::move(sorted);
}

}  // namespace zentra
