// Temporary: the text reader and writers arrive with the text-format work.
#include "templatefile.h"

TemplateReader::TemplateReader(Configuration& configuration, const kvaro::Oidtable& table)
    : config_(configuration), table_(table) {}
void TemplateReader::Read(kvaro::LineReader&, const std::vector<std::string>&) {}
void TemplateReader::ReadText(std::string_view, const std::vector<std::string>&) {}
void TemplateReader::HandleLine(std::string_view, Pass) {}
bool SaveToFiles(const Configuration&) { return false; }
int Configuration::LoadFromFiles(const kvaro::Oidtable&) { return 0; }
