#!/usr/bin/env python3
"""The message generator refuses malformed .msg files with the file (and line) and the cause."""
import os
import subprocess
import sys
import tempfile
import unittest

GENERATOR, CXX, RUNTIME_INCLUDE = sys.argv.pop(1), sys.argv.pop(1), sys.argv.pop(1)

ROUND_TRIP = r'''
#include <cstdio>
#include "pkg/msg/outer.hpp"
int main() {
  pkg::msg::Outer outer;
  if (outer.w != 1.0 || pkg::msg::Outer::MODE_A != 1) return 2;
  pkg::msg::Inner inner;
  inner.flags = {true, false, true};
  inner.label = "abcdefgh";
  outer.inners = {inner, pkg::msg::Inner()};
  outer.pair.push_back(inner);
  outer.w = -0.5;
  const auto* ts = rosidl_typesupport_velmora::MessageTypeSupportOf<pkg::msg::Outer>::get();
  std::vector<uint8_t> bytes;
  ts->serialize(&outer, bytes);
  pkg::msg::Outer back;
  ts->deserialize(bytes.data(), bytes.size(), &back);
  if (!(back == outer)) return 3;
  inner.label = "123456789";  // beyond string<=8
  outer.pair[0] = inner;
  ts->serialize(&outer, bytes);
  try {
    ts->deserialize(bytes.data(), bytes.size(), &back);
    return 4;
  } catch (const rosidl_typesupport_velmora::CdrError&) {
  }
  std::printf("%s", ts->to_yaml(&back).c_str());
  return 0;
}
'''


def run(files, program=None):
    """Writes {relative path: text} into a temporary tree and runs the generator on it; then
    compiles and runs `program` against the generated headers if given."""
    with tempfile.TemporaryDirectory() as root:
        paths = []
        for relative, text in files.items():
            path = os.path.join(root, relative)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, 'w', encoding='utf-8') as f:
                f.write(text)
            paths.append(path)
        result = subprocess.run([sys.executable, GENERATOR, '--output-dir', os.path.join(root, 'out')]
                                + paths, capture_output=True, text=True)
        generated = sorted(os.path.relpath(os.path.join(d, f), os.path.join(root, 'out'))
                           for d, _, fs in os.walk(os.path.join(root, 'out')) for f in fs)
        if program is not None and result.returncode == 0:
            source, binary = os.path.join(root, 'main.cpp'), os.path.join(root, 'main')
            with open(source, 'w', encoding='utf-8') as f:
                f.write(program)
            subprocess.run([CXX, '-std=c++17', '-Wall', '-Wextra', '-Werror', '-I', RUNTIME_INCLUDE,
                            '-I', os.path.join(root, 'out', 'include'), source, '-o', binary],
                           check=True)
            ran = subprocess.run([binary], capture_output=True, text=True)
            return ran.returncode, ran.stdout, generated
        return result.returncode, result.stderr, generated


class Refusals(unittest.TestCase):
    CASES = {
        'unknown type': ('float128 x\n', 'Bad.msg:1', 'unknown type'),
        'bad field name': ('int32 Speed\n', 'Bad.msg:1', 'bad field name'),
        'bound missing': ('float32[<=] x\n', 'Bad.msg:1', 'needs its bound'),
        'field twice': ('int32 x\nint32 x\n', 'Bad.msg:2', 'defined twice'),
        'default of a sequence': ('int32[] x 3\n', 'Bad.msg:1', 'single primitives'),
        'equal length of a scalar': ('# @equal_length x y\nint32 x\nint32[] y\n', 'Bad.msg',
                                     'not a sequence'),
        'missing dependency': ('other_pkg/Missing m\n', 'Bad.msg', 'not among the generated'),
    }

    def test_each_fault_is_named_and_nothing_is_written(self):
        for name, (text, where, cause) in self.CASES.items():
            with self.subTest(name):
                code, stderr, generated = run({'pkg/msg/Bad.msg': text})
                self.assertEqual(code, 1, stderr)
                self.assertIn(where, stderr)
                self.assertIn(cause, stderr)
                self.assertEqual(generated, [])

    def test_a_valid_tree_generates_messages_that_round_trip(self):
        # Features the bundled messages do not use: bool arrays, bounded strings, sequences of
        # messages, constants, defaults.
        code, output, generated = run({
            'pkg/msg/Inner.msg': 'bool[3] flags\nstring<=8 label\n',
            'pkg/msg/Outer.msg': 'uint8 MODE_A=1\nInner[] inners\nInner[<=2] pair\nfloat64 w 1\n'},
            ROUND_TRIP)
        self.assertEqual(code, 0, output)
        self.assertIn('label: "abcdefgh"', output)
        self.assertEqual(generated, ['idl/pkg/msg/Inner.idl', 'idl/pkg/msg/Outer.idl',
                                     'include/pkg/msg/inner.hpp', 'include/pkg/msg/outer.hpp',
                                     'include/rosidl_typesupport_velmora/all_messages.hpp'])


if __name__ == '__main__':
    unittest.main()
