// The one way the program shows a message box: a string-table id plus the values for
// its "%s" placeholders. The front end (widgets, console, tests) decides how it is shown.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/support/outcome.h"

namespace msg {

// Caption of every message box (string 57344).
inline constexpr std::string_view kCaption = "Orvelle32Setup";

// ReloadSaveAnywayCancel: the question of a save that found someone else's changes.
enum class Buttons { Ok, SaveDiscardCancel, YesNo, ReloadSaveAnywayCancel };
enum class Answer { Ok, Save, Discard, Cancel, Yes, No, Reload, SaveAnyway };

// A message ready to show: its id, the filled-in text, and how to ask.
struct Message {
  int id = 0;
  std::string text;
  Buttons buttons = Buttons::Ok;
  Icon icon = Icon::Information;
};

// Receives every message box. Implementations: a widget one (editor), a console one
// (orvelle-config) and a recording one (tests).
class Sink {
 public:
  virtual ~Sink() = default;
  virtual Answer Show(const Message& message) = 0;
};

// Text of string-table entry `id`; empty when the table has no such id.
std::string_view LoadString(int id);

// Fills the "%s" placeholders of `format` in order with `args`; "%d" takes the next
// argument as well (callers pass numbers already formatted). Missing args give "".
// Each argument goes in as Displayable() gives it.
std::string Format(std::string_view format, const std::vector<std::string>& args);

// Longest argument shown whole, in characters.
inline constexpr size_t kMaxShownChars = 200;

// A name or value as a message shows it, whatever it holds: control characters escaped
// ("\n", "\t", "\r", other C0 bytes and DEL as "\x01"; C1 controls and the characters
// that reorder text as "\u0085", "\u202e"), each invalid UTF-8 sequence replaced by
// U+FFFD, and text of more than kMaxShownChars characters cut after that many with "…"
// added. Every byte counts, NUL included.
std::string Displayable(std::string_view value);

// Items one a line, each Displayable(); after kMaxListedItems items a last line "…".
inline constexpr size_t kMaxListedItems = 50;
std::string DisplayableLines(const std::vector<std::string>& items);

// Format() without making the arguments Displayable: for a caller that built each
// argument from Displayable() pieces itself (a list of names, one a line).
std::string FormatPrepared(std::string_view format, const std::vector<std::string>& shownArgs);

// The text of a whole message for a terminal: as Displayable(), but line breaks and tabs
// stay and nothing is cut.
std::string TerminalText(std::string_view text);

// Text of `id` with its placeholders filled.
std::string Text(int id, const std::vector<std::string>& args = {});

// Installs the sink that Show() uses and returns the previous one. A null sink
// restores the console sink.
Sink* SetSink(Sink* sink);
Sink& CurrentSink();

// The icon message `id` always shows with (the one table of icons); `requested` for an
// id the table does not list.
Icon IconOf(int id, Icon requested = Icon::Information);

// Shows message `id` with `args` through the current sink, with the icon of IconOf.
Answer Show(int id, const std::vector<std::string>& args = {}, Buttons buttons = Buttons::Ok,
            Icon icon = Icon::Information);
// Shows each problem in order (with the Ok button).
void Show(const Problems& problems);
inline void Show(const Outcome& outcome) { Show(outcome.problems); }
inline void Show(const Result& result) { Show(result.problems); }

// Shows message `id` with arguments already made safe (see FormatPrepared).
Answer ShowPrepared(int id, const std::vector<std::string>& shownArgs, Buttons buttons, Icon icon);

// Writes "Orvelle32Setup: <text>" (as TerminalText()) to standard error; answers Ok (or
// Cancel/No when asked).
class ConsoleSink : public Sink {
 public:
  Answer Show(const Message& message) override;
};

// Keeps every message it is shown; answers with `answer` (tests).
class RecordingSink : public Sink {
 public:
  Answer Show(const Message& message) override;
  std::vector<Message> messages;
  Answer answer = Answer::Ok;
  std::vector<int> Ids() const;
};

// Installs a sink for the lifetime of this object (tests and front ends).
class ScopedSink {
 public:
  explicit ScopedSink(Sink* sink) : previous_(SetSink(sink)) {}
  ~ScopedSink() { SetSink(previous_); }
  ScopedSink(const ScopedSink&) = delete;
  ScopedSink& operator=(const ScopedSink&) = delete;

 private:
  Sink* previous_;
};

}  // namespace msg
