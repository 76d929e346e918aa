#!/usr/bin/env python3
"""Checks the administrative templates against the settings table.

  check_templates.py TEMPLATES_DIR [--copy COPY_DIR] [--readme README] (--rows FILE | -- COMMAND...)

TEMPLATES_DIR holds MarrowbankServer.admx and <language>/MarrowbankServer.adml. The table's rows come
from FILE or from what COMMAND prints (settings_rows.exe under Wine): lines
"row<TAB>key<TAB>kind<TAB>minimum<TAB>maximum<TAB>default<TAB>values<TAB>help"; other lines are ignored.
COPY_DIR is the build's copy of the templates, which must hold the same files byte for byte.
Every disagreement is printed; the exit code is 1 if there is any.
"""
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

NS = "http://schemas.microsoft.com/GroupPolicy/2006/07/PolicyDefinitions"
Q = "{%s}" % NS
# The key the policy reader reads and every policy of the templates writes.
# The service's policy key, as settings_rows prints it ("policykey<TAB>key"); a rows file without it
# (a fixture) is checked against this spelling.
POLICY_KEY = r"SOFTWARE\Policies\Marrowbank\MarrowbankServer"
ADMX = "MarrowbankServer.admx"
ADML = "MarrowbankServer.adml"
LANGUAGES = ("en-US", "zh-CN")
REFERENCE = re.compile(r"\$\((string|presentation)\.([^)]*)\)")
DECLARATION = b'<?xml version="1.0" encoding="utf-8"?>'

problems = []


def problem(text):
    problems.append(text)


class Row:
    def __init__(self, fields):
        (self.key, self.kind, minimum, maximum, self.default, values, self.help) = fields
        self.minimum, self.maximum = int(minimum), int(maximum)
        self.values = [] if values == "-" else values.split(",")


def read_rows(argv):
    if argv[0] == "--rows":
        with open(argv[1], encoding="utf-8") as f:
            text = f.read()
    else:
        run = subprocess.run(argv[1:], stdout=subprocess.PIPE, check=False)
        text = run.stdout.decode("utf-8", "replace")
        if run.returncode != 0:
            sys.exit("the table's rows: %s exited %d:\n%s" % (" ".join(argv[1:]), run.returncode, text))
    global POLICY_KEY
    rows = []
    for line in text.replace("\r", "").split("\n"):
        fields = line.split("\t")
        if fields[0] == "policykey" and len(fields) == 2:
            POLICY_KEY = fields[1]
        if fields[0] == "row":
            if len(fields) != 8:
                sys.exit("a row of %d fields, expected 8: %r" % (len(fields), line))
            rows.append(Row(fields[1:]))
    if not rows:
        sys.exit("no rows of the settings table in:\n" + text)
    return rows


def parse(path):
    with open(path, "rb") as f:
        data = f.read()
    if not data.startswith(DECLARATION):
        problem("%s: does not begin with %s" % (path, DECLARATION.decode()))
    try:
        return ET.fromstring(data)
    except ET.ParseError as error:
        sys.exit("%s: not well-formed XML: %s" % (path, error))


def check_schema_root(path, root, tag):
    if root.tag != Q + tag:
        problem("%s: root element %s, expected %s in namespace %s" % (path, root.tag, tag, NS))
    for attribute in ("revision", "schemaVersion"):
        if root.get(attribute) != "1.0":
            problem("%s: %s=%r, expected 1.0" % (path, attribute, root.get(attribute)))


def references(admx):
    """The $(string.X) and $(presentation.X) references of the ADMX, as two sets of ids."""
    found = {"string": set(), "presentation": set()}
    for element in admx.iter():
        for name, value in element.attrib.items():
            if "$(" not in value:
                continue
            match = REFERENCE.fullmatch(value)
            if not match or not match.group(2):
                problem("%s: %s=%r is not a $(string.X) or $(presentation.X) reference" % (ADMX, name, value))
                continue
            found[match.group(1)].add(match.group(2))
    return found


def check_admx_header(admx):
    namespaces = admx.find(Q + "policyNamespaces")
    target = namespaces.find(Q + "target") if namespaces is not None else None
    if target is None or not target.get("prefix") or not target.get("namespace"):
        problem("%s: no policyNamespaces/target with a prefix and a namespace" % ADMX)
    usings = {u.get("prefix"): u.get("namespace") for u in admx.iter(Q + "using")}
    if usings.get("windows") != "Microsoft.Policies.Windows":
        problem("%s: no using prefix=\"windows\" namespace=\"Microsoft.Policies.Windows\"" % ADMX)
    resources = admx.find(Q + "resources")
    if resources is None or resources.get("minRequiredRevision") != "1.0":
        problem("%s: resources minRequiredRevision is not 1.0" % ADMX)
    categories = {c.get("name") for c in admx.iter(Q + "category")}
    definitions = {d.get("name") for d in admx.iter(Q + "definition")}
    for policy in admx.iter(Q + "policy"):
        name = policy.get("name")
        parents = [p.get("ref") for p in policy.findall(Q + "parentCategory")]
        if len(parents) != 1 or parents[0] not in categories:
            problem("%s: policy %s: parentCategory %s is not one category of the file" % (ADMX, name, parents))
        supported = [s.get("ref") for s in policy.findall(Q + "supportedOn")]
        if len(supported) != 1:
            problem("%s: policy %s: %d supportedOn elements, expected 1" % (ADMX, name, len(supported)))
        for ref in supported:
            prefix, _, local = ref.rpartition(":")
            if (prefix and prefix not in usings) or (not prefix and local not in definitions):
                problem("%s: policy %s: supportedOn %r resolves neither to a definition of the file nor through a "
                        "using prefix" % (ADMX, name, ref))


def check_adml(path, adml, wanted, element_ids):
    check_schema_root(path, adml, "policyDefinitionResources")
    strings = {}
    for string in adml.iter(Q + "string"):
        if string.get("id") in strings:
            problem("%s: string id %s twice" % (path, string.get("id")))
        strings[string.get("id")] = string.text or ""
    presentations = {}
    for presentation in adml.iter(Q + "presentation"):
        if presentation.get("id") in presentations:
            problem("%s: presentation id %s twice" % (path, presentation.get("id")))
        presentations[presentation.get("id")] = presentation
    for kind, ids, have in (("string", wanted["string"], strings), ("presentation", wanted["presentation"],
                                                                    presentations)):
        for missing in sorted(ids - set(have)):
            problem("%s: $(%s.%s) of %s has no %s" % (path, kind, missing, ADMX, kind))
        for empty in sorted(i for i in ids & set(have) if kind == "string" and not have[i].strip()):
            problem("%s: string %s is empty" % (path, empty))
    # Each presentation shows exactly the elements of the policy that names it.
    for pid, presentation in presentations.items():
        shown = {control.get("refId") for control in presentation}
        if pid in element_ids and shown != element_ids[pid]:
            problem("%s: presentation %s shows %s, the policy's elements are %s" % (path, pid, sorted(shown),
                                                                                   sorted(element_ids[pid])))
    return strings, presentations


def number(element, attribute):
    value = element.get(attribute)
    return int(value) if value is not None and value.isdigit() else value


def check_policy(policy, row, presentations):
    name = row.key
    if policy.get("class") != "Machine":
        problem("policy %s: class=%r, expected Machine" % (name, policy.get("class")))
    if policy.get("key") != POLICY_KEY:
        problem("policy %s: key %r, expected %r" % (name, policy.get("key"), POLICY_KEY))
    elements = policy.find(Q + "elements")
    children = list(elements) if elements is not None else []
    if row.kind == "switch":
        if policy.get("valueName") != row.key:
            problem("policy %s: valueName %r, expected the table's key %r" % (name, policy.get("valueName"), row.key))
        for which, want in (("enabledValue", row.maximum), ("disabledValue", row.minimum)):
            decimal = policy.find("%s%s/%sdecimal" % (Q, which, Q))
            got = number(decimal, "value") if decimal is not None else None
            if got != want:
                problem("policy %s: %s decimal %r, expected %d" % (name, which, got, want))
        if children:
            problem("policy %s: a switch has no elements, found %d" % (name, len(children)))
        return
    if policy.get("valueName") is not None:
        problem("policy %s: valueName on the policy itself (its element names the value)" % name)
    if len(children) != 1:
        problem("policy %s: %d elements, expected 1" % (name, len(children)))
        return
    element = children[0]
    if element.get("valueName") != row.key or element.get("key", POLICY_KEY) != POLICY_KEY:
        problem("policy %s: element valueName %r, expected the table's key %r" % (name, element.get("valueName"),
                                                                                  row.key))
    control = None
    for presentation in presentations.values():
        for candidate in presentation:
            if candidate.get("refId") == element.get("id"):
                control = candidate
    if row.kind == "seconds":
        if element.tag != Q + "decimal" or element.get("storeAsText", "false") != "false":
            problem("policy %s: a %s element, expected a decimal stored as REG_DWORD" % (name, element.tag))
        for attribute, want in (("minValue", row.minimum), ("maxValue", row.maximum)):
            if number(element, attribute) != want:
                problem("policy %s: %s %r, expected the table's %d" % (name, attribute, element.get(attribute), want))
        if control is None or control.tag != Q + "decimalTextBox" or control.get("defaultValue") != row.default:
            problem("policy %s: its presentation is not a decimalTextBox with defaultValue %s" % (name, row.default))
    elif row.kind == "launchas":
        if element.tag != Q + "enum":
            problem("policy %s: a %s element, expected an enum" % (name, element.tag))
        items = [item.find("%svalue/%sstring" % (Q, Q)) for item in element.findall(Q + "item")]
        values = [item.text if item is not None else None for item in items]
        if values != row.values:
            problem("policy %s: enum items write %s (REG_SZ), expected %s" % (name, values, row.values))
        default_item = str(row.values.index(row.default)) if row.default in row.values else None
        if control is None or control.tag != Q + "dropdownList" or control.get("defaultItem") != default_item:
            problem("policy %s: its presentation is not a dropdownList with defaultItem %s (%s)" % (name, default_item,
                                                                                                     row.default))
    else:
        problem("policy %s: the table's kind %r has no policy form" % (name, row.kind))


def check_readme(path, rows):
    """The README's tables of the settings: one line per row in the mode file's table ("| `Key` | ..."),
    and in the policy table the key's type, range and default as the table has them."""
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    for row in rows:
        cells = [[c.strip() for c in line.strip().strip("|").split("|")] for line in lines
                 if line.startswith("| `%s` |" % row.key)]
        if not any(len(c) == 2 for c in cells):
            problem("README: the mode file's table has no line for %s" % row.key)
        policy = [c for c in cells if len(c) == 4]
        if len(policy) != 1:
            problem("README: the policy table has %d lines for %s, expected 1" % (len(policy), row.key))
            continue
        _, kind, accepted, default = policy[0]
        want_kind = "REG_SZ" if row.kind == "launchas" else "REG_DWORD"
        if kind != want_kind:
            problem("README: %s is %s in the policy table, the table's kind is %s" % (row.key, kind, want_kind))
        if default.strip("`") != row.default:
            problem("README: %s's default is %s in the policy table, the table's is %s" % (row.key, default, row.default))
        bounds = [str(row.minimum), str(row.maximum)] if row.kind != "launchas" else row.values
        for bound in bounds:
            if bound not in accepted:
                problem("README: %s's accepted values %r in the policy table do not name %s" % (row.key, accepted, bound))


def main(argv):
    if len(argv) < 3:
        sys.exit(__doc__)
    templates = argv[0]
    argv = argv[1:]
    copy = None
    readme = None
    while argv and argv[0] in ("--copy", "--readme"):
        if argv[0] == "--copy":
            copy = argv[1]
        else:
            readme = argv[1]
        argv = argv[2:]
    rows = read_rows(argv)
    if readme is not None:
        check_readme(readme, rows)

    files = [ADMX] + [os.path.join(language, ADML) for language in LANGUAGES]
    admx = parse(os.path.join(templates, ADMX))
    check_schema_root(ADMX, admx, "policyDefinitions")
    check_admx_header(admx)
    wanted = references(admx)
    # The element ids of each policy, under the presentation the policy names.
    element_ids = {}
    for policy in admx.iter(Q + "policy"):
        match = REFERENCE.fullmatch(policy.get("presentation", ""))
        if match:
            element_ids[match.group(2)] = {e.get("id") for e in policy.iterfind("%selements/*" % Q)}

    id_sets = {}
    by_language = {}
    for language in LANGUAGES:
        path = os.path.join(templates, language, ADML)
        strings, presentations = check_adml(path, parse(path), wanted, element_ids)
        id_sets[language] = (set(strings), set(presentations))
        by_language[language] = (strings, presentations)
    first = LANGUAGES[0]
    for language in LANGUAGES[1:]:
        for index, kind in enumerate(("string", "presentation")):
            if id_sets[language][index] != id_sets[first][index]:
                problem("%s and %s differ in %s ids: %s" % (first, language, kind,
                                                            sorted(id_sets[language][index] ^ id_sets[first][index])))

    policies = {p.get("name"): p for p in admx.iter(Q + "policy")}
    table = {row.key: row for row in rows}
    for extra in sorted(set(policies) - set(table)):
        problem("policy %s has no row in the settings table" % extra)
    for row in rows:
        policy = policies.get(row.key)
        if policy is None:
            problem("the table's setting %s has no policy (one policy per row, named as its key)" % row.key)
            continue
        check_policy(policy, row, by_language[first][1])
        # The English explanation begins with the table's help text.
        match = REFERENCE.fullmatch(policy.get("explainText", ""))
        help_text = by_language[first][0].get(match.group(2), "") if match else ""
        if not help_text.startswith(row.help):
            problem("policy %s: the en-US explanation does not begin with the table's help text:\n  %r\nexpected\n  %r"
                    % (row.key, help_text[:len(row.help)], row.help))

    if copy is not None:
        for name in files:
            try:
                with open(os.path.join(templates, name), "rb") as a, open(os.path.join(copy, name), "rb") as b:
                    if a.read() != b.read():
                        problem("%s in the build folder differs from the source's" % os.path.join(copy, name))
            except OSError as error:
                problem("the build's copy: %s" % error)

    if problems:
        print("\n".join("FAILED: " + p for p in problems))
        return 1
    print("templates agree with the settings table: %d policies, languages %s" % (len(rows), ", ".join(LANGUAGES)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
