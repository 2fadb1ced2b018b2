#include "platform/support/oidtable.h"

#include <cctype>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>

namespace kvaro {

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The keyword at the start of a definition line and the rest of the line after it;
// false when the line starts with neither keyword.
bool SplitKeyword(std::string_view line, std::string& keyword, std::string_view& rest) {
  size_t end = 0;
  while (end < line.size() && !IsBlank(line[end]) && line[end] != '(') ++end;
  keyword = Lower(line.substr(0, end));
  if (keyword != "attributetype" && keyword != "objectclass") return false;
  rest = line.substr(end);
  return true;
}

}  // namespace

Oidtable::Oidtable() = default;
Oidtable::~Oidtable() = default;

int Oidtable::Load(const std::string& path, const SchemaParser& parse) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return 0;
  std::ostringstream text;
  text << in.rdbuf();
  LoadText(text.str(), parse);
  return 1;
}

int Oidtable::LoadText(std::string_view text, const SchemaParser& parse) {
  int added = 0;
  std::string keyword;
  std::string definition;
  int definitionLine = 0;

  auto finish = [&]() {
    if (keyword.empty()) return;
    const bool isAttribute = keyword == "attributetype";
    std::string problem;
    const std::optional<SchemaDefinition> parsed = parse(
        isAttribute ? SchemaKind::AttributeType : SchemaKind::ObjectClass, definition, &problem);
    if (!parsed || parsed->oid.empty()) {
      errors_.push_back("line " + std::to_string(definitionLine) + ": " + keyword + " " +
                        definition + (problem.empty() ? "" : " (" + problem + ")"));
    } else if (isAttribute) {
      auto record = std::make_unique<QAttrT>(QAttrT{parsed->oid, parsed->names});
      // A name already taken keeps its first definition, so a repeated definition in a
      // later part of the file cannot change what earlier look-ups returned.
      atByName_.emplace(Lower(record->oid), record.get());
      for (const auto& n : record->names) atByName_.emplace(Lower(n), record.get());
      attributeTypes_.push_back(std::move(record));
      ++added;
    } else {
      auto record = std::make_unique<QOC>(QOC{parsed->oid, parsed->names});
      ocByName_.emplace(Lower(record->oid), record.get());
      for (const auto& n : record->names) ocByName_.emplace(Lower(n), record.get());
      objectClasses_.push_back(std::move(record));
      ++added;
    }
    keyword.clear();
    definition.clear();
  };

  int lineNumber = 0;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++lineNumber;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);

    size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first < line.size() && line[first] == '#') continue;  // comments may sit anywhere
    if (first == line.size()) {                               // a blank line ends a definition
      finish();
      continue;
    }
    if (first > 0) {  // continuation of the current definition
      if (!keyword.empty()) definition.append(" ").append(line.substr(first));
      continue;
    }
    finish();
    std::string_view rest;
    if (SplitKeyword(line, keyword, rest)) {
      const size_t start = rest.find_first_not_of(" \t");
      definition.assign(start == std::string_view::npos ? std::string_view{} : rest.substr(start));
      definitionLine = lineNumber;
    } else {
      keyword.clear();
      errors_.push_back("line " + std::to_string(lineNumber) + ": " + std::string(line));
    }
  }
  finish();
  return added;
}

const QAttrT* Oidtable::str2at(std::string_view name) const {
  if (name.empty()) return nullptr;
  auto it = atByName_.find(Lower(name));
  return it == atByName_.end() ? nullptr : it->second;
}

const QOC* Oidtable::str2oc(std::string_view name) const {
  if (name.empty()) return nullptr;
  auto it = ocByName_.find(Lower(name));
  return it == ocByName_.end() ? nullptr : it->second;
}

void Oidtable::Clear() {
  atByName_.clear();
  ocByName_.clear();
  attributeTypes_.clear();
  objectClasses_.clear();
  errors_.clear();
}

}  // namespace kvaro
