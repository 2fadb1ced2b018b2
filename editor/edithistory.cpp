#include "editor/edithistory.h"

#include <QUndoStack>
#include <unordered_map>
#include <utility>
#include <vector>

#include "model/configuration.h"
#include "platform/support/messages.h"

namespace {

// What a record is, as far as naming an edit goes: its kind (the message id of the
// kind's name), name, holder and everything else it holds, as one text.
struct Seen {
  int kind = 0;
  std::string name;
  RecordId parent = 0;
  std::string content;
};

class Records {
 public:
  explicit Records(const Configuration& c) {
    for (const auto& set : c.ruleSets) {
      std::string rules;
      for (const auto& rule : set->rules) {
        Id(rules, rule->id);
        std::string content = std::to_string(int(rule->ruleType)) + '\x1f' + rule->ldapUri;
        for (const std::string& oc : rule->objectClasses) content += '\x1f' + oc;
        content += '\x1e';
        for (const SearchRule* searchable : rule->searchableRules) Id(content, searchable->id);
        Add(rule->id, {62385, rule->name, set->id, std::move(content)});
      }
      Add(set->id, {62384, set->name, 0, std::move(rules)});
    }
    for (const auto& form : c.searchForms) {
      std::string content = form->toolTip + '\x1f' + form->helpString + '\x1f';
      if (form->ruleSet) Id(content, form->ruleSet->id);
      std::vector<const InputGroup*> groups;
      if (form->targetGroup) groups.push_back(form->targetGroup.get());
      for (const auto& group : form->inputGroups) groups.push_back(group.get());
      for (const InputGroup* group : groups) {
        Id(content, group->id);
        std::string fields;
        if (group->searchRule) Id(fields, group->searchRule->id);
        for (const auto& field : group->fields) {
          Id(fields, field->id);
          std::string values = field->defaultValue;
          for (const std::string& a : field->filterAttributes) values += '\x1f' + a;
          Add(field->id, {62388, field->name, group->id, std::move(values)});
        }
        Add(group->id, {62387, group->name, form->id, std::move(fields)});
      }
      Add(form->id, {62386, form->name, 0, std::move(content)});
    }
  }
  const std::vector<std::pair<RecordId, Seen>>& all() const { return all_; }
  const Seen* Find(RecordId id) const {
    const auto found = index_.find(id);
    return found == index_.end() ? nullptr : &all_[found->second].second;
  }

 private:
  static void Id(std::string& out, RecordId id) { out += std::to_string(id) + ','; }
  void Add(RecordId id, Seen seen) {
    index_.emplace(id, all_.size());
    all_.emplace_back(id, std::move(seen));
  }
  std::vector<std::pair<RecordId, Seen>> all_;
  std::unordered_map<RecordId, size_t> index_;
};

std::string Name(int action, const Seen& seen) {
  return msg::Text(action, {msg::Text(seen.kind), seen.name});
}

}  // namespace

// One edit: the configurations before and after it. The first redo is the edit itself,
// already made.
class EditHistory::Step : public QUndoCommand {
 public:
  Step(EditHistory& history, std::shared_ptr<const Configuration> before,
       std::shared_ptr<const Configuration> after, const std::string& text)
      : history_(history), before_(std::move(before)), after_(std::move(after)) {
    setText(QString::fromStdString(text));
  }
  void undo() override { Put(before_); }
  void redo() override {
    if (done_) Put(after_);
    done_ = true;
  }

 private:
  void Put(const std::shared_ptr<const Configuration>& state) {
    history_.current_ = state;
    history_.restore_(*state);
  }
  EditHistory& history_;
  std::shared_ptr<const Configuration> before_, after_;
  bool done_ = false;
};

EditHistory::EditHistory(Configuration& configuration,
                         std::function<void(const Configuration&)> restore, QObject* parent)
    : QObject(parent),
      configuration_(configuration),
      restore_(std::move(restore)),
      stack_(new QUndoStack(this)) {
  connect(stack_, &QUndoStack::cleanChanged, this,
          [this](bool clean) { emit modifiedChanged(!clean); });
  Reset();
}

EditHistory::~EditHistory() = default;

void EditHistory::Reset() {
  const bool wasModified = isModified();
  stack_->clear();
  current_ = CloneConfiguration(configuration_);
  // Each step keeps a whole configuration: a large one keeps fewer steps.
  size_t records = 0;
  for (const auto& set : configuration_.ruleSets) records += 1 + set->rules.size();
  for (const auto& form : configuration_.searchForms) records += 1 + 4 * form->inputGroups.size();
  stack_->setUndoLimit(int(std::clamp<size_t>(400000 / (records + 1), 10, 100)));
  stack_->setClean();
  if (wasModified) emit modifiedChanged(false);
}

void EditHistory::MarkSaved() { stack_->setClean(); }

bool EditHistory::Record() {
  std::shared_ptr<const Configuration> now = CloneConfiguration(configuration_);
  const std::string text = DescribeEdit(*current_, *now);
  if (text.empty()) return false;
  stack_->push(new Step(*this, current_, now, text));
  current_ = std::move(now);
  return true;
}

bool EditHistory::Undo() {
  if (!stack_->canUndo()) return false;
  stack_->undo();
  return true;
}

bool EditHistory::Redo() {
  if (!stack_->canRedo()) return false;
  stack_->redo();
  return true;
}

bool EditHistory::isModified() const { return !stack_->isClean(); }

std::string EditHistory::DescribeEdit(const Configuration& before, const Configuration& after) {
  const Records was(before), is(after);
  // A removed or added record whose holder stays names the edit (not each record below it).
  for (const auto& [id, seen] : was.all())
    if (!is.Find(id) && (seen.parent == 0 || is.Find(seen.parent))) return Name(62381, seen);
  for (const auto& [id, seen] : is.all())
    if (!was.Find(id) && (seen.parent == 0 || was.Find(seen.parent))) return Name(62380, seen);
  for (const auto& [id, seen] : was.all())
    if (is.Find(id)->name != seen.name) return Name(62382, seen);
  for (const auto& [id, seen] : is.all())
    if (was.Find(id)->content != seen.content) return Name(62383, seen);
  // The same records in another order of rule sets or forms.
  if (was.all().size() == is.all().size())
    for (size_t i = 0; i < was.all().size(); ++i)
      if (was.all()[i].first != is.all()[i].first) return Name(62383, is.all()[i].second);
  return {};
}
