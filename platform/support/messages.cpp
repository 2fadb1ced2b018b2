#include "platform/support/messages.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>

#include "platform/support/utf8.h"

namespace msg {

namespace {
ConsoleSink g_console;
// Read by worker threads that show messages while the GUI thread may install a sink.
std::atomic<Sink*> g_sink{&g_console};
}  // namespace

namespace {

void AppendHex(std::string& out, const char* prefix, unsigned value, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += prefix;
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) out += kHex[(value >> shift) & 0xf];
}

// Characters that change the direction of the text around them, which a name could use
// to make a message read as something else.
bool ReordersText(uint32_t cp) {
  return cp == 0x200e || cp == 0x200f || (cp >= 0x202a && cp <= 0x202e) ||
         (cp >= 0x2066 && cp <= 0x2069) || cp == 0x061c;
}

// The safe form of `text` (see Displayable); `maxChars` 0 means no limit.
std::string Sanitize(std::string_view text, bool keepLayout, size_t maxChars) {
  std::string out;
  out.reserve(std::min(text.size(), size_t(4096)) + 8);
  size_t chars = 0;
  size_t i = 0;
  const size_t n = text.size();
  while (i < n) {
    if (maxChars && chars == maxChars) {
      out += "\xe2\x80\xa6";  // U+2026, the ellipsis
      break;
    }
    ++chars;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      ++i;
      if (keepLayout && (c == '\n' || c == '\t')) {
        out += static_cast<char>(c);
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\t') {
        out += "\\t";
      } else if (c == '\r') {
        out += "\\r";
      } else if (c < 0x20 || c == 0x7f) {
        AppendHex(out, "\\x", c, 2);
      } else {
        out += static_cast<char>(c);
      }
      continue;
    }
    // The well-formed UTF-8 sequences (Unicode's table 3-7): the range of the second
    // byte depends on the first; an ill-formed sequence is replaced as a whole up to the
    // byte that breaks it (its maximal subpart), which stays for the next round.
    const kvaro::Utf8Lead lead = kvaro::Utf8LeadOf(c);
    const int need = lead.continuation;
    unsigned char lo = lead.lo, hi = lead.hi;
    size_t j = i + 1;
    uint32_t cp = need == 1 ? (c & 0x1f) : need == 2 ? (c & 0x0f) : (c & 0x07);
    int got = 0;
    while (got < need && j < n) {
      const unsigned char b = static_cast<unsigned char>(text[j]);
      if (b < lo || b > hi) break;
      cp = (cp << 6) | (b & 0x3f);
      lo = 0x80, hi = 0xbf;
      ++j, ++got;
    }
    if (need == 0 || got < need) {
      out += "\xef\xbf\xbd";  // U+FFFD
      i = need == 0 ? i + 1 : j;
      continue;
    }
    if ((cp >= 0x80 && cp <= 0x9f) || ReordersText(cp)) {
      AppendHex(out, "\\u", cp, 4);
    } else {
      out.append(text.substr(i, j - i));
    }
    i = j;
  }
  return out;
}

}  // namespace

std::string Displayable(std::string_view value) { return Sanitize(value, false, kMaxShownChars); }

std::string TerminalText(std::string_view text) { return Sanitize(text, true, 0); }

std::string DisplayableLines(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i) out += '\n';
    if (i == kMaxListedItems) {
      out += "\xe2\x80\xa6";
      break;
    }
    out += Displayable(items[i]);
  }
  return out;
}

namespace {

std::string Fill(std::string_view format, const std::vector<std::string>& args, bool prepared) {
  std::string out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 's' || format[i + 1] == 'd')) {
      if (next < args.size()) out += prepared ? args[next] : Displayable(args[next]);
      ++next;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
}

}  // namespace

std::string Format(std::string_view format, const std::vector<std::string>& args) {
  return Fill(format, args, false);
}

std::string FormatPrepared(std::string_view format, const std::vector<std::string>& shownArgs) {
  return Fill(format, shownArgs, true);
}

std::string Text(int id, const std::vector<std::string>& args) {
  return Format(LoadString(id), args);
}

Sink* SetSink(Sink* sink) {
  Sink* previous = g_sink.exchange(sink ? sink : &g_console);
  return previous == &g_console ? nullptr : previous;
}

Sink& CurrentSink() { return *g_sink.load(); }

Answer Show(int id, const std::vector<std::string>& args, Buttons buttons, Icon icon) {
  return g_sink.load()->Show(Message{id, Text(id, args), buttons, IconOf(id, icon)});
}

void Show(const Problems& problems) {
  for (const Problem& problem : problems) {
    if (!problem.reason.empty())
      g_sink.load()->Show(Message{problem.id,
                                  Text(problem.id, problem.args) + "\n\n" + problem.reason,
                                  Buttons::Ok, problem.icon});
    else if (problem.prepared)
      ShowPrepared(problem.id, problem.args, Buttons::Ok, problem.icon);
    else
      Show(problem.id, problem.args, Buttons::Ok, problem.icon);
  }
}

Answer ShowPrepared(int id, const std::vector<std::string>& shownArgs, Buttons buttons, Icon icon) {
  return g_sink.load()->Show(
      Message{id, FormatPrepared(LoadString(id), shownArgs), buttons, IconOf(id, icon)});
}

Answer ConsoleSink::Show(const Message& message) {
  // Written whole, with its size: a NUL in the text must not end it early, and nothing
  // in it may reach the terminal as a control sequence.
  const std::string line = std::string(kCaption) + ": " + TerminalText(message.text) + "\n";
  std::fwrite(line.data(), 1, line.size(), stderr);
  std::fflush(stderr);
  switch (message.buttons) {
    case Buttons::Ok:
      return Answer::Ok;
    case Buttons::SaveDiscardCancel:
    case Buttons::ReloadSaveAnywayCancel:
      return Answer::Cancel;
    case Buttons::YesNo:
      return Answer::No;
  }
  return Answer::Ok;
}

Answer RecordingSink::Show(const Message& message) {
  messages.push_back(message);
  return answer;
}

std::vector<int> RecordingSink::Ids() const {
  std::vector<int> ids;
  for (const auto& m : messages) ids.push_back(m.id);
  return ids;
}

}  // namespace msg
