// The icon of every message, kept in one table so that a message shows with the same
// icon wherever it is raised: errors (the operation failed or the input was refused)
// critical, warnings (something is missing or suspect, and nothing was changed) warning,
// questions a question mark. Messages not listed keep the icon their caller asks for.
#include <unordered_map>

#include "platform/support/messages.h"

namespace msg {

Icon IconOf(int id, Icon requested) {
  static const std::unordered_map<int, Icon> icons = {
      // Input refused by a dialog or a wizard page.
      {61252, Icon::Error},
      {61253, Icon::Error},
      {61254, Icon::Error},
      {61256, Icon::Error},
      {61268, Icon::Error},
      {61275, Icon::Error},
      {61278, Icon::Error},
      {61279, Icon::Error},
      {62172, Icon::Error},
      {62160, Icon::Error},
      {62173, Icon::Error},
      {62175, Icon::Error},
      {62176, Icon::Error},
      {62180, Icon::Error},
      {62222, Icon::Error},
      {62223, Icon::Error},
      {62227, Icon::Error},
      {62229, Icon::Error},
      {62320, Icon::Error},
      // The directory, a file or the settings failed.
      {61261, Icon::Error},
      {61263, Icon::Error},
      {61264, Icon::Error},
      {61276, Icon::Error},
      {61277, Icon::Error},
      {62304, Icon::Error},
      {62305, Icon::Error},
      {62307, Icon::Error},
      {62308, Icon::Error},
      {62309, Icon::Error},
      {62310, Icon::Error},
      {62215, Icon::Error},
      {61280, Icon::Error},
      {61284, Icon::Error},
      {61286, Icon::Error},
      {61290, Icon::Error},
      {61296, Icon::Error},
      {62013, Icon::Error},
      {62014, Icon::Error},
      {62100, Icon::Error},
      {62101, Icon::Error},
      {62102, Icon::Error},
      {62103, Icon::Error},
      {62104, Icon::Error},
      {62105, Icon::Error},
      {62106, Icon::Error},
      {62107, Icon::Error},
      {62120, Icon::Error},
      {62121, Icon::Error},
      {62122, Icon::Error},
      {62230, Icon::Error},
      {62245, Icon::Error},
      {62246, Icon::Error},
      {62248, Icon::Error},
      // Something is missing or suspect; nothing was changed.
      {61245, Icon::Warning},
      {61255, Icon::Warning},
      {61260, Icon::Warning},
      {61262, Icon::Warning},
      {61265, Icon::Warning},
      {61281, Icon::Warning},
      {62001, Icon::Warning},
      {62002, Icon::Warning},
      {62003, Icon::Warning},
      {62004, Icon::Warning},
      {62005, Icon::Warning},
      {62006, Icon::Warning},
      {62007, Icon::Warning},
      {62008, Icon::Warning},
      {62150, Icon::Warning},
      {62170, Icon::Warning},
      {62171, Icon::Warning},
      {62181, Icon::Warning},
      {62182, Icon::Warning},
      {62183, Icon::Warning},
      {62184, Icon::Warning},
      {62224, Icon::Warning},
      // Questions.
      {62151, Icon::Question},
      {62306, Icon::Question},
      {62177, Icon::Question},
      {62178, Icon::Question},
      {62228, Icon::Question},
      {62247, Icon::Question},
  };
  const auto it = icons.find(id);
  return it == icons.end() ? requested : it->second;
}

}  // namespace msg
