// Helpers for the editor's dialog and panel tests: small attribute tables, and the
// shared modal-dialog driver under the name these tests use.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <functional>

#include "editor/controlids.h"
#include "model/configuration.h"
#include "platform/ldap/ldapclient.h"
#include "platform/support/oidtable.h"
#include "tests/support/modaldriver.h"
#include "tests/support/widgethelpers.h"

namespace formtest {

using ModalScript = testsupport::ModalDriver;

// A table that knows the attribute types cn (commonName), sn (surname), mail and
// telephoneNumber and the object classes person, organizationalPerson and inetOrgPerson.
inline void LoadSmallTable(kvaro::Oidtable& table) {
  ldapx::LoadOidtableText(
      table,
      "attributetype ( 2.5.4.3 NAME ( 'cn' 'commonName' ) SUP name )\n"
      "attributetype ( 2.5.4.4 NAME ( 'sn' 'surname' ) SUP name )\n"
      "attributetype ( 0.9.2342.19200300.100.1.3 NAME 'mail' "
      "EQUALITY caseIgnoreIA5Match SYNTAX 1.3.6.1.4.1.1466.115.121.1.26{256} )\n"
      "attributetype ( 2.5.4.20 NAME 'telephoneNumber' "
      "SYNTAX 1.3.6.1.4.1.1466.115.121.1.50{32} )\n"
      "objectclass ( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST ( sn $ cn ) )\n"
      "objectclass ( 2.5.6.7 NAME 'organizationalPerson' SUP person STRUCTURAL )\n"
      "objectclass ( 2.16.840.1.113730.3.2.2 NAME 'inetOrgPerson' "
      "SUP organizationalPerson STRUCTURAL )\n");
}

// The attribute types cn, c, o and ou and the object classes top, person and
// organizationalPerson, as the rule dialogs and panels offer them.
inline constexpr const char* kRuleSchema =
    "attributetype ( 2.5.4.3 NAME ( 'cn' 'commonName' ) SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
    "attributetype ( 2.5.4.6 NAME ( 'c' 'countryName' ) SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
    "attributetype ( 2.5.4.10 NAME ( 'o' 'organizationName' ) "
    "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
    "attributetype ( 2.5.4.11 NAME ( 'ou' 'organizationalUnitName' ) "
    "SYNTAX 1.3.6.1.4.1.1466.115.121.1.15 )\n"
    "objectclass ( 2.5.6.0 NAME 'top' ABSTRACT )\n"
    "objectclass ( 2.5.6.6 NAME 'person' SUP top STRUCTURAL MUST cn )\n"
    "objectclass ( 2.5.6.7 NAME 'organizationalPerson' SUP person STRUCTURAL )\n";

// Steps for "Add Form Group Field" (136): Add opens "Add Filter Attribute" (135), which
// takes `attribute` with OK.
inline void AddFilterAttributeSteps(ModalScript& script, const QString& attribute) {
  script.Then(ObjectName(kIdAddInputFieldDialog),
              [](QWidget* d) { testsupport::Click(d, kIdAddFieldAddAttributeButton); });
  script.Then(ObjectName(kIdAddFilterAttributeDialog), [attribute](QWidget* d) {
    testsupport::Type(d, kIdNameEdit, attribute);
    testsupport::Click(d, kIdOk);
  });
}

// Steps for "Add Form Group Field" (136): one filter attribute, then the field's name
// and default value with OK.
inline void AddFieldSteps(ModalScript& script, const QString& attribute, const QString& name,
                          const QString& defaultValue) {
  AddFilterAttributeSteps(script, attribute);
  script.Then(ObjectName(kIdAddInputFieldDialog), [name, defaultValue](QWidget* d) {
    testsupport::Type(d, kIdAddFieldNameEdit, name);
    testsupport::Type(d, kIdAddFieldDefaultEdit, defaultValue);
    testsupport::Click(d, kIdOk);
  });
}

}  // namespace formtest
