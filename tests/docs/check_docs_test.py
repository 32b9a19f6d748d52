#!/usr/bin/env python3
"""The docs checker reads the top-level keys of --json from the code: only
what facts_to_json sets on the document it returns."""

import pathlib
import sys
import unittest

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
from check_docs import document_keys  # noqa: E402

HELPER = """Json route_json(const RouteEntry& r) {
  Json j = {{"destination", r.destination}};
  if (!r.table.empty()) j["table"] = r.table;
  return j;
}
"""

CASES = [
    # (what, source, expected keys)
    ("a helper's own object is not the document",
     HELPER + """std::string facts_to_json(const Facts& f) {
  Json j;
  j["routes"] = array_of(f.routes, route_json);
  return j.dump(2) + "\\n";
}
""", {"routes"}),
    ("braces in literals and comments do not end the body",
     """std::string facts_to_json(const Facts& f, const std::string& level) {
  Json j;
  j["open"] = "{";  // a } in a comment
  j["quote"] = '\\'';
  /* } */ j["close"] = std::string("}\\"}");
  j["last"] = 1;
  return j.dump(2, ' ') + "\\n";
}
Json tail_json() { Json j; j["after"] = 1; return j; }
""", {"open", "quote", "close", "last"}),
    ("another object in the body and reads of the document are not keys",
     """std::string facts_to_json(const Facts& f) {
  try {
    Json doc;
    Json sub;
    sub["inner"] = 1;
    doc["outer"] = sub;
    if (doc["outer"] == sub) doc["again"] = 2;
    return doc.dump(2);
  } catch (...) {
    return "{}";
  }
}
""", {"outer", "again"}),
    ("a declaration without a body is not the definition",
     """std::string facts_to_json(const Facts& f);
Json other() { Json j; j["x"] = 1; return j; }
""", set()),
]


class DocumentKeys(unittest.TestCase):
    def test_cases(self):
        for what, source, expected in CASES:
            with self.subTest(what):
                self.assertEqual(expected, document_keys(source))

    def test_the_real_document(self):
        root = pathlib.Path(__file__).resolve().parents[2]
        keys = document_keys((root / "src/facts/facts_json.cc").read_text())
        self.assertIn("policy_rules", keys)
        self.assertNotIn("table", keys)


if __name__ == "__main__":
    unittest.main()
