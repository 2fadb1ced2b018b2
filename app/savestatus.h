// What a File Save in the editor came to.
#pragma once

class SaveStatus {
 public:
  enum Kind {
    kNotSaved,  // nothing saved; the save has said why (or the user cancelled)
    kSaved,
    // Nothing saved: someone else changed the stored configuration and the user chose to
    // load it again, losing the unsaved changes.
    kReload,
  };
  SaveStatus(Kind kind) : kind(kind) {}
  // From a save function that only tells whether it saved.
  SaveStatus(bool saved) : kind(saved ? kSaved : kNotSaved) {}
  Kind kind;
};
