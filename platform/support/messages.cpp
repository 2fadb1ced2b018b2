#include "messages.h"

#include <atomic>
#include <cstdio>

namespace msg {

namespace {
ConsoleSink g_console;
// Read by worker threads that show messages while the GUI thread may install a sink.
std::atomic<Sink*> g_sink{&g_console};
}  // namespace

std::string Format(std::string_view format, const std::vector<std::string>& args) {
  std::string out;
  out.reserve(format.size() + 32);
  size_t next = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (format[i] == '%' && i + 1 < format.size() &&
        (format[i + 1] == 's' || format[i + 1] == 'd')) {
      if (next < args.size()) out += args[next];
      ++next;
      ++i;
    } else {
      out += format[i];
    }
  }
  return out;
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

Answer ConsoleSink::Show(const Message& message) {
  std::fprintf(stderr, "%.*s: %s\n", static_cast<int>(kCaption.size()), kCaption.data(),
               message.text.c_str());
  switch (message.buttons) {
    case Buttons::Ok:
      return Answer::Ok;
    case Buttons::SaveDiscardCancel:
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
