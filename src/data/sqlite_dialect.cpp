#include "data/sqlite_dialect.h"

#include <cctype>
#include <vector>

#include "platform/text.h"

namespace qar {

namespace {

bool IsWordStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#';
}
bool IsWordChar(char c) {
  return IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$';
}

class Translator {
 public:
  Translator(std::string_view text, std::int64_t sessionId) : text_(text), sessionId_(sessionId) {}

  std::string Run(std::size_t begin, std::size_t end) {
    std::string out;
    std::size_t p = begin;
    while (p < end) {
      const char c = text_[p];
      const char next = p + 1 < end ? text_[p + 1] : '\0';
      if (c == '\'' || c == '"' || c == '`' || c == '[') {
        const std::size_t close = SkipQuoted(p, end);
        out.append(text_.substr(p, close - p));
        p = close;
      } else if (c == '-' && next == '-') {
        std::size_t eol = text_.find('\n', p);
        if (eol == std::string_view::npos || eol > end) eol = end;
        out.append(text_.substr(p, eol - p));
        p = eol;
      } else if (c == '/' && next == '*') {
        std::size_t close = text_.find("*/", p + 2);
        close = close == std::string_view::npos || close + 2 > end ? end : close + 2;
        out.append(text_.substr(p, close - p));
        p = close;
      } else if (IsWordStart(c) && (p == begin || !IsWordChar(text_[p - 1]))) {
        p = Word(p, end, out);
      } else {
        out += c;
        ++p;
      }
    }
    return out;
  }

 private:
  // Position after the literal or quoted identifier that starts at p.
  std::size_t SkipQuoted(std::size_t p, std::size_t end) const {
    const char open = text_[p];
    const char close = open == '[' ? ']' : open;
    std::size_t q = p + 1;
    while (q < end) {
      if (text_[q] == close) {
        if (close != ']' && q + 1 < end && text_[q + 1] == close) {
          q += 2;  // doubled quote inside the literal
          continue;
        }
        return q + 1;
      }
      ++q;
    }
    return end;
  }

  std::size_t SkipSpace(std::size_t p, std::size_t end) const {
    while (p < end && std::isspace(static_cast<unsigned char>(text_[p]))) ++p;
    return p;
  }

  std::size_t WordEnd(std::size_t p, std::size_t end) const {
    while (p < end && IsWordChar(text_[p])) ++p;
    return p;
  }

  // When the next word after blanks at p is `word`, the position after it; else npos.
  std::size_t MatchWord(std::size_t p, std::size_t end, std::string_view word) const {
    p = SkipSpace(p, end);
    const std::size_t wordEnd = WordEnd(p, end);
    if (wordEnd == p || !platform::SameTextAscii(text_.substr(p, wordEnd - p), word))
      return std::string_view::npos;
    return wordEnd;
  }

  std::size_t MatchChar(std::size_t p, std::size_t end, char c) const {
    p = SkipSpace(p, end);
    return p < end && text_[p] == c ? p + 1 : std::string_view::npos;
  }

  // Splits the argument list that starts after "(" at p into top-level ranges;
  // returns the position after the closing ")" or npos when it is missing.
  std::size_t Arguments(std::size_t p, std::size_t end,
                        std::vector<std::pair<std::size_t, std::size_t>>& args) const {
    int depth = 0;
    std::size_t start = p;
    while (p < end) {
      const char c = text_[p];
      if (c == '\'' || c == '"' || c == '`' || c == '[') {
        p = SkipQuoted(p, end);
        continue;
      }
      if (c == '(') {
        ++depth;
      } else if (c == ')') {
        if (depth == 0) {
          args.emplace_back(start, p);
          return p + 1;
        }
        --depth;
      } else if (c == ',' && depth == 0) {
        args.emplace_back(start, p);
        start = p + 1;
      }
      ++p;
    }
    return std::string_view::npos;
  }

  std::string Trim(std::size_t begin, std::size_t end) const {
    return platform::TrimControl(text_.substr(begin, end - begin));
  }

  std::size_t Word(std::size_t p, std::size_t end, std::string& out) {
    const std::size_t wordEnd = WordEnd(p, end);
    const std::string_view word = text_.substr(p, wordEnd - p);
    const std::string upper = platform::UpperCaseAscii(word);

    if (upper == "N" && wordEnd < end && text_[wordEnd] == '\'') return wordEnd;  // N'...'
    if (upper == "@@SPID") {
      out += std::to_string(sessionId_);
      return wordEnd;
    }
    if (upper == "GETDATE") {
      std::size_t q = MatchChar(wordEnd, end, '(');
      if (q != std::string_view::npos) q = MatchChar(q, end, ')');
      if (q != std::string_view::npos) {
        out += kSqliteLocalNow;
        return q;
      }
    }
    if (upper == "CONVERT") {
      const std::size_t open = MatchChar(wordEnd, end, '(');
      std::vector<std::pair<std::size_t, std::size_t>> args;
      const std::size_t after =
          open == std::string_view::npos ? open : Arguments(open, end, args);
      if (after != std::string_view::npos && (args.size() == 2 || args.size() == 3)) {
        const std::string type = platform::UpperCaseAscii(Trim(args[0].first, args[0].second));
        const std::string value = Run(args[1].first, args[1].second);
        const std::string style = args.size() == 3 ? Trim(args[2].first, args[2].second) : "";
        if (style == "103") {
          out += "strftime('%d/%m/%Y'," + value + ")";
        } else if (style == "120" || style == "20") {
          out += "strftime('%Y-%m-%d %H:%M:%S'," + value + ")";
        } else if (style == "112") {
          out += "strftime('%Y%m%d'," + value + ")";
        } else if (type.rfind("INT", 0) == 0 || type == "BIGINT" || type == "SMALLINT") {
          out += "CAST(" + value + " AS INTEGER)";
        } else {
          out += "CAST(" + value + " AS TEXT)";
        }
        return after;
      }
    }
    if (upper == "INT" || upper == "INTEGER") {
      std::size_t q = MatchWord(wordEnd, end, "IDENTITY");
      if (q != std::string_view::npos) {
        const std::size_t open = MatchChar(q, end, '(');
        if (open != std::string_view::npos) {
          std::vector<std::pair<std::size_t, std::size_t>> args;
          q = Arguments(open, end, args);
        }
        if (q != std::string_view::npos) q = MatchWord(q, end, "PRIMARY");
        if (q != std::string_view::npos) q = MatchWord(q, end, "KEY");
        if (q != std::string_view::npos) {
          out += "INTEGER PRIMARY KEY AUTOINCREMENT";
          return q;
        }
      }
    }
    if (upper == "NVARCHAR" || upper == "VARCHAR" || upper == "VARBINARY") {
      std::size_t q = MatchChar(wordEnd, end, '(');
      if (q != std::string_view::npos) q = MatchWord(q, end, "MAX");
      if (q != std::string_view::npos) q = MatchChar(q, end, ')');
      if (q != std::string_view::npos) {
        out += upper == "VARBINARY" ? "BLOB" : "TEXT";
        return q;
      }
    }
    out.append(word);
    return wordEnd;
  }

  std::string_view text_;
  std::int64_t sessionId_;
};

}  // namespace

std::string TranslateTSqlToSqlite(std::string_view text, std::int64_t sessionId) {
  return Translator(text, sessionId).Run(0, text.size());
}

}  // namespace qar
