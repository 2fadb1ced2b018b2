// The one way the program shows a message box: a string-table id plus the values for
// its "%s" placeholders. The front end (widgets, console, tests) decides how it is shown.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace msg {

// Caption of every message box (string 57344).
inline constexpr std::string_view kCaption = "Orvelle32Setup";

enum class Buttons { Ok, SaveDiscardCancel, YesNo };
enum class Answer { Ok, Save, Discard, Cancel, Yes, No };
enum class Icon { Information, Warning, Error, Question };

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
std::string Format(std::string_view format, const std::vector<std::string>& args);

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

// Writes "Orvelle32Setup: <text>" to standard error; answers Ok (or Cancel/No when asked).
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
