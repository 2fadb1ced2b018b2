// The editor's undo history. Each edit of the configuration is one step, kept as the
// configuration after it (a copy that keeps the records' identities); undo and redo put
// a copy of the configuration before or after a step in place. A step's text names the
// edit ("Remove Form People"), found by comparing the two by identity.
#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <string>

class Configuration;
class QUndoStack;

class EditHistory : public QObject {
  Q_OBJECT

 public:
  // A history of `configuration`; `restore` puts a state in place of the live
  // configuration's records (the caller refreshes what shows them).
  EditHistory(Configuration& configuration, std::function<void(const Configuration&)> restore,
              QObject* parent = nullptr);
  ~EditHistory() override;

  QUndoStack* stack() const { return stack_; }
  // The configuration as it is now is the stored one (just loaded): the history starts
  // anew, with nothing to undo and nothing unsaved.
  void Reset();
  // The configuration as it is now was saved: undoing from here makes it unsaved again.
  void MarkSaved();
  // Records the edit just made as one step; nothing when the configuration is as it was.
  // Returns whether a step was added.
  bool Record();
  // Undo and redo of the newest (next) step; false when there is none.
  bool Undo();
  bool Redo();
  // Whether the configuration differs from the loaded or last saved one as far as the
  // history knows (an edit not yet recorded does not count).
  bool isModified() const;

  // The name of the edit from `before` to `after` ("Add Rule Set Staff"), or empty when
  // they are the same.
  static std::string DescribeEdit(const Configuration& before, const Configuration& after);

 signals:
  // The modified state changed (undo to the saved state, a new edit, a save).
  void modifiedChanged(bool modified);

 private:
  class Step;
  Configuration& configuration_;
  std::function<void(const Configuration&)> restore_;
  QUndoStack* stack_ = nullptr;
  // The configuration as of the newest step (or the reset).
  std::shared_ptr<const Configuration> current_;
};
