#include "tests/support/sampleconfig.h"

#include <string>

namespace sample {

namespace {

SearchRule* AddSearchRule(RuleSet& set, const std::string& name, std::vector<std::string> classes) {
  SearchRule rule(&set, name, {}, std::move(classes));
  set.AddRule(&rule);
  return set.FindRule(name);
}

}  // namespace

void FillStandard(Configuration& configuration) {
  auto standard = std::make_unique<RuleSet>("Standard");
  SearchRule root(standard.get(), "Root", {}, std::string("ldap://dirhost:389/o=Sample"));
  standard->AddRule(&root);
  SearchRule* person = AddSearchRule(*standard, "Person", {"person", "organizationalPerson"});
  SearchRule* org = AddSearchRule(*standard, "Org", {"organization"});

  auto other = std::make_unique<RuleSet>("Other");
  SearchRule* thing = AddSearchRule(*other, "Thing", {"device"});

  auto target = std::make_unique<InputGroup>("Person details", person);
  target->AddField("Name", "", {"cn", "sn"});
  target->AddField("Mail", "", {"mail"});
  auto employer = std::make_unique<InputGroup>("Employer", org);
  employer->AddField("Company", "", {"o"});
  auto site = std::make_unique<InputGroup>("Site", org);
  auto people = std::make_unique<SearchForm>("People", standard.get(), std::move(target));
  people->AddInputGroup(std::move(employer));
  people->AddInputGroup(std::move(site));

  auto thingTarget = std::make_unique<InputGroup>("Thing details", thing);
  thingTarget->AddField("Label", "", {"cn"});
  auto things = std::make_unique<SearchForm>("Things", other.get(), std::move(thingTarget));

  configuration.ruleSets.push_back(std::move(standard));
  configuration.ruleSets.push_back(std::move(other));
  configuration.searchForms.push_back(std::move(people));
  configuration.searchForms.push_back(std::move(things));
}

void FillPeople(Configuration& configuration) {
  auto standard = std::make_unique<RuleSet>("Standard");
  SearchRule* person = AddSearchRule(*standard, "Person", {"person", "inetOrgPerson"});
  SearchRule* room = AddSearchRule(*standard, "Room", {"organizationalPerson"});
  SearchRule root(standard.get(), "Root", {}, std::string("ldap://dirhost:389/o=Sample"));
  standard->AddRule(&root);

  auto target = std::make_unique<InputGroup>("Who", person);
  target->AddField("Name", "", {"cn", "sn"});
  auto a = std::make_unique<InputGroup>("A", person);
  a->AddField("Phone", "", {"telephoneNumber"});
  a->AddField("Email", "", {"mail"});
  auto b = std::make_unique<InputGroup>("B", room);
  b->AddField("Room Name", "", {"cn"});
  auto people = std::make_unique<SearchForm>("People", standard.get(), std::move(target));
  people->AddInputGroup(std::move(a));
  people->AddInputGroup(std::move(b));
  configuration.ruleSets.push_back(std::move(standard));
  configuration.searchForms.push_back(std::move(people));
}

void FillLarge(Configuration& configuration, int ruleSets, int rulesPerSet, int fieldsPerGroup) {
  for (int s = 0; s < ruleSets; ++s) {
    auto set = std::make_unique<RuleSet>("Set " + std::to_string(s));
    SearchRule* first = nullptr;
    for (int r = 0; r < rulesPerSet; ++r) {
      SearchRule* rule = AddSearchRule(*set, "Rule " + std::to_string(r), {"person"});
      if (!first) first = rule;
    }
    auto target = std::make_unique<InputGroup>("Group " + std::to_string(s), first);
    for (int f = 0; f < fieldsPerGroup; ++f) {
      target->AddField("Field " + std::to_string(f), "", {"cn"});
    }
    configuration.searchForms.push_back(
        std::make_unique<SearchForm>("Form " + std::to_string(s), set.get(), std::move(target)));
    configuration.ruleSets.push_back(std::move(set));
  }
}

}  // namespace sample
