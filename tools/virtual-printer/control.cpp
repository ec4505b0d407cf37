// The control commands of the virtual printer.
#include "tools/virtual-printer/control.h"

#include <charconv>
#include <sstream>
#include <vector>

namespace vprinter {
namespace {

// The words of `line`.
std::vector<std::string> wordsOf(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

// A whole decimal byte count, or nothing.
std::optional<size_t> parseCount(const std::string& text) {
  size_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// "paper ok|low|empty" and "paper empty after N".
std::string paperCommand(const std::vector<std::string>& w, PrinterState& state) {
  std::optional<Paper> paper = w.size() >= 2 ? parsePaper(w[1]) : std::nullopt;
  if (!paper) return "paper needs ok, low or empty";
  if (w.size() == 2) {
    state.sensors.paper = *paper;
    state.emptyAfter.reset();
    return "";
  }
  std::optional<size_t> count = w.size() == 4 && w[2] == "after" ? parseCount(w[3]) : std::nullopt;
  if (*paper != Paper::Empty || !count) return "expected: paper empty after BYTES";
  if (*count == 0) {
    state.sensors.paper = Paper::Empty;
  } else {
    state.emptyAfter = count;
  }
  return "";
}

// "connection normal|never-read|close-after N|reset-after N".
std::string connectionCommand(const std::vector<std::string>& w, PrinterState& state) {
  if (w.size() == 2 && (w[1] == "normal" || w[1] == "never-read")) {
    state.link = Link{w[1] == "normal" ? LinkMode::Normal : LinkMode::NeverRead, 0};
    return "";
  }
  std::optional<size_t> count = w.size() == 3 ? parseCount(w[2]) : std::nullopt;
  if (count && (w[1] == "close-after" || w[1] == "reset-after")) {
    state.link = Link{w[1] == "close-after" ? LinkMode::CloseAfter : LinkMode::ResetAfter, *count};
    return "";
  }
  return "connection needs normal, never-read, close-after BYTES or reset-after BYTES";
}

const char* linkName(LinkMode mode) {
  switch (mode) {
    case LinkMode::Normal: return "normal";
    case LinkMode::NeverRead: return "never-read";
    case LinkMode::CloseAfter: return "close-after";
    case LinkMode::ResetAfter: return "reset-after";
  }
  return "?";
}

}  // namespace

std::string applyControl(const std::string& line, PrinterState& state) {
  std::vector<std::string> w = wordsOf(line);
  if (w.empty()) return "empty command";
  const std::string& verb = w[0];
  bool single = w.size() == 1;
  if (verb == "paper") return paperCommand(w, state);
  if (verb == "connection") return connectionCommand(w, state);
  if (verb == "cover" && w.size() == 2 && (w[1] == "open" || w[1] == "closed")) {
    state.sensors.coverOpen = w[1] == "open";
  } else if (verb == "answers" && w.size() == 2 && (w[1] == "on" || w[1] == "off")) {
    state.answers = w[1] == "on";
  } else if (single && (verb == "offline" || verb == "online")) {
    state.sensors.offline = verb == "offline";
  } else if (single && (verb == "error" || verb == "no-error")) {
    state.sensors.error = verb == "error";
  } else if (single && verb == "ready") {
    state.sensors = Sensors{};
    state.emptyAfter.reset();
  } else if (!(single && verb == "status")) {
    return "unknown command '" + line + "'";
  }
  return "";
}

std::string describe(const PrinterState& state) {
  std::string text = describe(state.sensors);
  if (state.emptyAfter) text += " empty-after=" + std::to_string(*state.emptyAfter);
  text += state.answers ? " answers=on" : " answers=off";
  text += std::string(" connection=") + linkName(state.link.mode);
  if (state.link.mode == LinkMode::CloseAfter || state.link.mode == LinkMode::ResetAfter) {
    text += "-" + std::to_string(state.link.bytes);
  }
  return text;
}

}  // namespace vprinter
