// The attribute table the directory tests check names against: the schemas the test
// slapd loads, plus the attribute types slapd has built in.
#pragma once

namespace kvaro {
class Oidtable;
}

namespace testsupport {

const kvaro::Oidtable& DirectoryOidtable();

}  // namespace testsupport
