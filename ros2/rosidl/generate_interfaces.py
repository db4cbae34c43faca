#!/usr/bin/env python3
"""Generates the C++ message headers and the DDS IDL of ROS 2 interface definitions (.msg).

For every <package>/msg/<Name>.msg given it writes, below the output directory:
  include/<package>/msg/<name_snake>.hpp   the message struct with ROS 2's C++ names, its traits,
                                           YAML printing and CDR type support;
  idl/<package>/msg/<Name>.idl             the DDS IDL of the wire type <package>::msg::dds_::<Name>_.

The .msg grammar is ROS 2's: `<type> <name> [default]`, `<type> <NAME>=<value>` (a constant) and
`#` comments. Types: the primitives, `string` / `string<=N`, a message `Name` (same package) or
`package/Name`, each optionally followed by `[N]` (array), `[]` (sequence) or `[<=N]` (bounded
sequence). A comment line `# @equal_length f1 f2 ...` makes deserialisation refuse samples whose
listed sequences differ in length.
"""
import argparse
import textwrap
import os
import re
import sys

PRIMITIVES = {
    # msg type: (C++ type, IDL type, CDR size, C++ zero)
    'bool': ('bool', 'boolean', 1, 'false'),
    'byte': ('unsigned char', 'octet', 1, '0'),
    'char': ('unsigned char', 'uint8', 1, '0'),
    'float32': ('float', 'float', 4, '0.0f'),
    'float64': ('double', 'double', 8, '0.0'),
    'int8': ('int8_t', 'int8', 1, '0'),
    'uint8': ('uint8_t', 'uint8', 1, '0'),
    'int16': ('int16_t', 'short', 2, '0'),
    'uint16': ('uint16_t', 'unsigned short', 2, '0u'),
    'int32': ('int32_t', 'long', 4, '0l'),
    'uint32': ('uint32_t', 'unsigned long', 4, '0ul'),
    'int64': ('int64_t', 'long long', 8, '0ll'),
    'uint64': ('uint64_t', 'unsigned long long', 8, '0ull'),
}
NAME_RE = re.compile(r'^[a-z][a-z0-9_]*$')
CONST_RE = re.compile(r'^[A-Z][A-Z0-9_]*$')


class MsgError(Exception):
    pass


class Field:
    def __init__(self, base, pkg, name, kind, size, string_bound, default):
        self.base = base            # primitive name, 'string' or 'pkg/Name'
        self.pkg = pkg
        self.name = name
        self.kind = kind            # 'single', 'array', 'sequence', 'bounded'
        self.size = size            # array size or sequence bound
        self.string_bound = string_bound
        self.default = default

    @property
    def is_message(self):
        return '/' in self.base

    @property
    def is_string(self):
        return self.base == 'string'


class Message:
    def __init__(self, pkg, name, fields, constants, equal_length, comment):
        self.pkg, self.name, self.fields = pkg, name, fields
        self.constants, self.equal_length, self.comment = constants, equal_length, comment

    @property
    def snake(self):
        return snake_case(self.name)

    @property
    def deps(self):
        return sorted({f.base for f in self.fields if f.is_message})


def snake_case(name):
    s = re.sub(r'([a-z0-9])([A-Z])', r'\1_\2', name)
    s = re.sub(r'([A-Z])([A-Z][a-z])', r'\1_\2', s)
    return s.lower()


def parse_type(text, pkg, where):
    m = re.match(r'^([A-Za-z0-9_/]+?)(<=(\d+))?(\[(<=)?(\d*)\])?$', text)
    if not m:
        raise MsgError(f'{where}: cannot read the type "{text}"')
    base, string_bound = m.group(1), m.group(3)
    kind, size = 'single', None
    if m.group(4):
        if m.group(5):
            if not m.group(6):
                raise MsgError(f'{where}: a bounded sequence needs its bound: "{text}"')
            kind, size = 'bounded', int(m.group(6))
        elif m.group(6):
            kind, size = 'array', int(m.group(6))
        else:
            kind = 'sequence'
        if size is not None and size == 0:
            raise MsgError(f'{where}: array size or bound 0 in "{text}"')
    if string_bound is not None and base != 'string':
        raise MsgError(f'{where}: only strings take a bound "<=N": "{text}"')
    if base in PRIMITIVES or base == 'string':
        pass
    elif base == 'Header':
        base = 'std_msgs/Header'
    elif '/' in base:
        parts = base.split('/')
        if len(parts) == 3 and parts[1] == 'msg':
            parts = [parts[0], parts[2]]
        if len(parts) != 2 or not re.match(r'^[A-Z][A-Za-z0-9]*$', parts[1]):
            raise MsgError(f'{where}: bad message type "{text}"')
        base = '/'.join(parts)
    elif re.match(r'^[A-Z][A-Za-z0-9]*$', base):
        base = f'{pkg}/{base}'
    else:
        raise MsgError(f'{where}: unknown type "{base}"')
    return base, kind, size, int(string_bound) if string_bound else None


def parse_msg(path):
    pkg = os.path.basename(os.path.dirname(os.path.dirname(os.path.abspath(path))))
    name = os.path.splitext(os.path.basename(path))[0]
    if not re.match(r'^[A-Z][A-Za-z0-9]*$', name):
        raise MsgError(f'{path}: message names are CamelCase: "{name}"')
    fields, constants, equal_length, comment = [], [], [], []
    with open(path, encoding='utf-8') as f:
        lines = f.read().splitlines()
    leading = True
    for number, raw in enumerate(lines, 1):
        where = f'{path}:{number}'
        stripped = raw.strip()
        if stripped.startswith('#'):
            text = stripped[1:].strip()
            if text.startswith('@equal_length'):
                equal_length = text.split()[1:]
            elif leading:
                comment.append(text)
            continue
        leading = False
        line = re.sub(r'\s#.*$', '', raw).strip()
        if not line:
            continue
        parts = line.split(None, 1)
        if len(parts) < 2:
            raise MsgError(f'{where}: expected "<type> <name>", got "{line}"')
        type_text, rest = parts
        base, kind, size, string_bound = parse_type(type_text, pkg, where)
        if '=' in rest and CONST_RE.match(rest.split('=', 1)[0].strip()):
            cname, value = (s.strip() for s in rest.split('=', 1))
            if kind != 'single' or '/' in base:
                raise MsgError(f'{where}: constants are primitives or strings')
            constants.append((base, cname, value))
            continue
        name_and_default = rest.split(None, 1)
        fname = name_and_default[0]
        if not NAME_RE.match(fname) or '__' in fname or fname.endswith('_'):
            raise MsgError(f'{where}: bad field name "{fname}"')
        if any(x.name == fname for x in fields):
            raise MsgError(f'{where}: field "{fname}" defined twice')
        default = name_and_default[1].strip() if len(name_and_default) > 1 else None
        if default is not None and (kind != 'single' or base not in PRIMITIVES):
            raise MsgError(f'{where}: defaults are supported for single primitives only')
        fields.append(Field(base, pkg, fname, kind, size, string_bound, default))
    for n in equal_length:
        if not any(x.name == n and x.kind in ('sequence', 'bounded') for x in fields):
            raise MsgError(f'{path}: @equal_length names "{n}", which is not a sequence field')
    return Message(pkg, name, fields, constants, equal_length, comment)


# ----------------------------------------------------------------------------------------- C++

def cpp_msg_type(base, alloc='ContainerAllocator'):
    pkg, name = base.split('/')
    return f'{pkg}::msg::{name}_<{alloc}>'


def cpp_element_type(f):
    if f.is_message:
        return cpp_msg_type(f.base)
    if f.is_string:
        return 'std::basic_string<char, std::char_traits<char>, ' \
               'typename std::allocator_traits<ContainerAllocator>::template rebind_alloc<char>>'
    return PRIMITIVES[f.base][0]


def cpp_field_type(f):
    element = cpp_element_type(f)
    rebind = f'typename std::allocator_traits<ContainerAllocator>::template rebind_alloc<{element}>'
    if f.kind == 'single':
        return element
    if f.kind == 'array':
        return f'std::array<{element}, {f.size}>'
    if f.kind == 'sequence':
        return f'std::vector<{element}, {rebind}>'
    return f'rosidl_runtime_cpp::BoundedVector<{element}, {f.size}, {rebind}>'


def cpp_literal(base, value):
    if base == 'bool':
        return 'true' if value.lower() in ('true', '1') else 'false'
    if base in ('float32', 'float64'):
        v = value if any(c in value for c in '.eE') else value + '.0'
        return v + ('f' if base == 'float32' else '')
    if base == 'string':
        return 'u8' + value if value.startswith('"') else f'"{value}"'
    return value + ('ull' if base == 'uint64' else 'll' if base == 'int64' else '')


def header_guard_path(msg):
    return f'{msg.pkg}/msg/{msg.snake}.hpp'


def gen_struct(msg):
    out = []
    T = f'{msg.name}_'
    doc = ' '.join(msg.comment) if msg.comment else f'The message {msg.pkg}/msg/{msg.name}.'
    out.extend(textwrap.wrap(doc, width=100, initial_indent='/// ', subsequent_indent='/// '))
    out.append('template <class ContainerAllocator>')
    out.append(f'struct {T} {{')
    out.append(f'  using Type = {T}<ContainerAllocator>;')
    out.append('')
    for init_alloc in (False, True):
        inits = []
        for f in msg.fields:
            if f.kind == 'single' and f.is_message:
                inits.append(f'{f.name}({"_alloc, " if init_alloc else ""}_init)')
            elif init_alloc and (f.is_string and f.kind == 'single' or f.kind in ('sequence', 'bounded')):
                inits.append(f'{f.name}(_alloc)')
        body = []
        for f in msg.fields:
            if f.kind == 'single' and f.base in PRIMITIVES:
                zero = PRIMITIVES[f.base][3]
                if f.default is not None:
                    body.append(f'    if (_init == rosidl_runtime_cpp::MessageInitialization::ALL ||\n'
                                f'        _init == rosidl_runtime_cpp::MessageInitialization::DEFAULTS_ONLY) {{\n'
                                f'      {f.name} = {cpp_literal(f.base, f.default)};\n'
                                f'    }} else if (_init == rosidl_runtime_cpp::MessageInitialization::ZERO) {{\n'
                                f'      {f.name} = {zero};\n    }}')
                else:
                    body.append(f'    if (_init == rosidl_runtime_cpp::MessageInitialization::ALL ||\n'
                                f'        _init == rosidl_runtime_cpp::MessageInitialization::ZERO) {{\n'
                                f'      {f.name} = {zero};\n    }}')
            elif f.kind == 'array' and not f.is_message:
                zero = '""' if f.is_string else PRIMITIVES[f.base][3]
                body.append(f'    if (_init != rosidl_runtime_cpp::MessageInitialization::SKIP) '
                            f'{f.name}.fill({zero});')
        params = ('const ContainerAllocator& _alloc, ' if init_alloc else '') + \
            'rosidl_runtime_cpp::MessageInitialization _init =\n' \
            '          rosidl_runtime_cpp::MessageInitialization::ALL'
        out.append(f'  explicit {T}({params})' + (f'\n      : {", ".join(inits)}' if inits else '') + ' {')
        if init_alloc and not inits:
            out.append('    (void)_alloc;')
        if not body:
            out.append('    (void)_init;')
        out.extend(body)
        out.append('  }')
    out.append('')
    for f in msg.fields:
        out.append(f'  using _{f.name}_type = {cpp_field_type(f)};')
        out.append(f'  _{f.name}_type {f.name};')
    out.append('')
    for f in msg.fields:
        out.append(f'  Type& set__{f.name}(const _{f.name}_type& _arg) {{\n'
                   f'    {f.name} = _arg;\n    return *this;\n  }}')
    for base, cname, value in msg.constants:
        if base == 'string':
            out.append(f'  static constexpr const char* {cname} = {cpp_literal(base, value)};')
        else:
            out.append(f'  static constexpr {PRIMITIVES[base][0]} {cname} = {cpp_literal(base, value)};')
    out.append('')
    for alias, ptr in (('RawPtr', 'Type*'), ('ConstRawPtr', 'const Type*'),
                       ('SharedPtr', 'std::shared_ptr<Type>'),
                       ('ConstSharedPtr', 'std::shared_ptr<const Type>'),
                       ('UniquePtr', 'std::unique_ptr<Type>'),
                       ('ConstUniquePtr', 'std::unique_ptr<const Type>'),
                       ('WeakPtr', 'std::weak_ptr<Type>'),
                       ('ConstWeakPtr', 'std::weak_ptr<const Type>')):
        out.append(f'  using {alias} = {ptr};')
    out.append('')
    cmp = ' &&\n           '.join(f'{f.name} == other.{f.name}' for f in msg.fields) or 'true'
    out.append(f'  bool operator==(const {T}& other) const {{\n'
               + ('    (void)other;\n' if not msg.fields else '')
               + f'    return {cmp};\n  }}')
    out.append(f'  bool operator!=(const {T}& other) const {{ return !(*this == other); }}')
    out.append('};')
    out.append('')
    out.append(f'using {msg.name} = {T}<std::allocator<void>>;')
    return '\n'.join(out)


def fixed_size(msg, messages):
    for f in msg.fields:
        if f.kind in ('sequence', 'bounded') or f.is_string:
            return False
        if f.is_message and not fixed_size(messages[f.base], messages):
            return False
    return True


def bounded_size(msg, messages):
    for f in msg.fields:
        if f.kind == 'sequence' or (f.is_string and f.string_bound is None):
            return False
        if f.is_message and not bounded_size(messages[f.base], messages):
            return False
    return True


def gen_traits(msg, messages):
    full = f'{msg.pkg}::msg::{msg.name}'
    fixed = 'true' if fixed_size(msg, messages) else 'false'
    bounded = 'true' if bounded_size(msg, messages) else 'false'
    return f'''namespace rosidl_generator_traits {{
template <>
inline const char* data_type<{full}>() {{
  return "{full}";
}}
template <>
inline const char* name<{full}>() {{
  return "{msg.pkg}/msg/{msg.name}";
}}
template <>
struct is_message<{full}> : std::true_type {{}};
template <>
struct has_fixed_size<{full}> : std::integral_constant<bool, {fixed}> {{}};
template <>
struct has_bounded_size<{full}> : std::integral_constant<bool, {bounded}> {{}};
}}  // namespace rosidl_generator_traits'''


def cdr_alignment(f):
    if f.is_message:
        return None
    if f.is_string:
        return 4
    return PRIMITIVES[f.base][2]


def gen_serialize(msg):
    full = f'{msg.pkg}::msg::{msg.name}'
    lines = [f'inline void cdr_serialize(CdrWriter& out, const {full}& msg) {{']
    if not msg.fields:
        lines.append('  out.write(uint8_t{0});  // an empty struct carries one byte on the wire')
    for f in msg.fields:
        v = f'msg.{f.name}'
        if f.kind in ('sequence', 'bounded'):
            lines.append(f'  out.write_length({v}.size());')
        if f.kind == 'single':
            if f.is_message:
                lines.append(f'  cdr_serialize(out, {v});')
            elif f.is_string:
                lines.append(f'  out.write_string({v});')
            elif f.base == 'bool':
                lines.append(f'  out.write(static_cast<uint8_t>({v} ? 1 : 0));')
            else:
                lines.append(f'  out.write({v});')
        else:
            if f.is_message:
                lines.append(f'  for (const auto& element : {v}) cdr_serialize(out, element);')
            elif f.is_string:
                lines.append(f'  for (const auto& element : {v}) out.write_string(element);')
            elif f.base == 'bool':
                lines.append(f'  for (const bool element : {v}) out.write(static_cast<uint8_t>(element ? 1 : 0));')
            else:
                lines.append(f'  out.write_array({v}.data(), {v}.size());')
    lines.append('}')
    return '\n'.join(lines)


def gen_deserialize(msg):
    full = f'{msg.pkg}::msg::{msg.name}'
    lines = [f'inline void cdr_deserialize(CdrReader& in, {full}& msg) {{']
    if not msg.fields:
        lines.append('  in.read<uint8_t>("structure_needs_at_least_one_member");')
    for f in msg.fields:
        v = f'msg.{f.name}'
        fname = f'"{f.name}"'
        bound = str(f.size) if f.kind == 'bounded' else 'CdrReader::kUnbounded'
        sbound = str(f.string_bound) if f.string_bound else 'CdrReader::kUnbounded'
        min_size = 1 if (f.is_message) else (4 if f.is_string else PRIMITIVES[f.base][2])
        if f.kind in ('sequence', 'bounded'):
            lines.append(f'  {v}.resize(in.read_length({fname}, {bound}, {min_size}));')
        if f.kind == 'single':
            if f.is_message:
                lines.append(f'  cdr_deserialize(in, {v});')
            elif f.is_string:
                lines.append(f'  in.read_string({fname}, {sbound}, {v});')
            elif f.base == 'bool':
                lines.append(f'  {v} = in.read<uint8_t>({fname}) != 0;')
            else:
                lines.append(f'  {v} = in.read<{PRIMITIVES[f.base][0]}>({fname});')
        else:
            if f.is_message:
                lines.append(f'  for (auto& element : {v}) cdr_deserialize(in, element);')
            elif f.is_string:
                lines.append(f'  for (auto& element : {v}) in.read_string({fname}, {sbound}, element);')
            elif f.base == 'bool':
                lines.append(f'  for (size_t i = 0; i < {v}.size(); ++i) {v}[i] = in.read<uint8_t>({fname}) != 0;')
            else:
                lines.append(f'  in.read_array({fname}, {v}.data(), {v}.size());')
    if msg.equal_length:
        first = msg.equal_length[0]
        for other in msg.equal_length[1:]:
            lines.append(f'  if (msg.{other}.size() != msg.{first}.size()) {{\n'
                         f'    in.fail("{other}", "has " + std::to_string(msg.{other}.size()) +\n'
                         f'            " elements but {first} has " + std::to_string(msg.{first}.size()));\n'
                         f'  }}')
    lines.append('}')
    return '\n'.join(lines)


def gen_yaml(msg):
    full = f'{msg.pkg}::msg::{msg.name}'
    lines = [f'/// Writes `msg` as block-style YAML, each line indented by `indentation` spaces.',
             f'inline void to_block_style_yaml(const {msg.name}& msg, std::ostream& out, size_t indentation = 0) {{']
    if not msg.fields:
        lines.append('  (void)msg;\n  out << std::string(indentation, \' \') << "structure_needs_at_least_one_member: 0\\n";')
    for f in msg.fields:
        v = f'msg.{f.name}'
        lines.append(f'  out << std::string(indentation, \' \') << "{f.name}:";')
        if f.kind == 'single':
            if f.is_message:
                lines.append(f'  out << "\\n";\n  to_block_style_yaml({v}, out, indentation + 2);')
            else:
                lines.append(f'  out << " ";\n  rosidl_generator_traits::yaml_scalar(out, {v});\n  out << "\\n";')
        else:
            lines.append(f'  if ({v}.empty()) {{\n    out << " []\\n";\n  }} else {{\n    out << "\\n";')
            lines.append(f'    for (const auto& element : {v}) {{')
            if f.is_message:
                lines.append(f'      out << std::string(indentation, \' \') << "-\\n";\n'
                             f'      to_block_style_yaml(element, out, indentation + 2);')
            else:
                lines.append(f'      out << std::string(indentation, \' \') << "- ";\n'
                             f'      rosidl_generator_traits::yaml_scalar(out, element);\n'
                             f'      out << "\\n";')
            lines.append('    }\n  }')
    lines.append('}')
    lines.append('')
    lines.append(f'/// `msg` as block-style YAML.')
    lines.append(f'inline std::string to_yaml(const {msg.name}& msg) {{\n'
                 f'  std::ostringstream out;\n  to_block_style_yaml(msg, out);\n  return out.str();\n}}')
    return '\n'.join(lines)


def gen_header(msg, messages, source):
    includes = {'<array>', '<cstdint>', '<memory>', '<ostream>', '<sstream>', '<string>',
                '<type_traits>', '<vector>'}
    local = ['"rosidl_runtime_cpp/bounded_vector.hpp"', '"rosidl_runtime_cpp/message_initialization.hpp"',
             '"rosidl_runtime_cpp/traits.hpp"', '"rosidl_typesupport_velmora/cdr_reader.hpp"',
             '"rosidl_typesupport_velmora/cdr_writer.hpp"',
             '"rosidl_typesupport_velmora/message_type_support.hpp"']
    for dep in msg.deps:
        p, n = dep.split('/')
        local.append(f'"{p}/msg/{snake_case(n)}.hpp"')
    full = f'{msg.pkg}::msg::{msg.name}'
    parts = [
        f'// Generated from {source} by generate_interfaces.py. Do not edit.',
        '#pragma once', '',
        '\n'.join(f'#include {i}' for i in sorted(includes)), '',
        '\n'.join(f'#include {i}' for i in sorted(local)), '',
        f'namespace {msg.pkg} {{\nnamespace msg {{', '',
        gen_struct(msg), '',
        gen_yaml(msg), '',
        f'}}  // namespace msg\n}}  // namespace {msg.pkg}', '',
        gen_traits(msg, messages), '',
        'namespace rosidl_typesupport_velmora {', '',
        gen_serialize(msg), '',
        gen_deserialize(msg), '',
        f'template <>\nstruct MessageTypeSupportOf<{full}> {{\n'
        f'  static const MessageTypeSupport* get() {{\n'
        f'    static const MessageTypeSupport type_support =\n'
        f'        make_message_type_support<{full}>("{msg.pkg}/msg/{msg.name}",\n'
        f'                                          "{msg.pkg}::msg::dds_::{msg.name}_");\n'
        f'    return &type_support;\n  }}\n}};', '',
        '}  // namespace rosidl_typesupport_velmora', '',
    ]
    return '\n'.join(parts)


# ----------------------------------------------------------------------------------------- IDL

def idl_element_type(f):
    if f.is_message:
        p, n = f.base.split('/')
        return f'{p}::msg::dds_::{n}_'
    if f.is_string:
        return f'string<{f.string_bound}>' if f.string_bound else 'string'
    return PRIMITIVES[f.base][1]


def gen_idl(msg, source):
    out = [f'// Generated from {source} by generate_interfaces.py. Do not edit.', '']
    guard = f'__{msg.pkg}__msg__{msg.name}__idl'
    out += [f'#ifndef {guard}', f'#define {guard}', '']
    for dep in msg.deps:
        p, n = dep.split('/')
        out.append(f'#include "{p}/msg/{n}.idl"')
    if msg.deps:
        out.append('')
    out += [f'module {msg.pkg} {{', '  module msg {', '    module dds_ {']
    for base, cname, value in msg.constants:
        t = 'string' if base == 'string' else PRIMITIVES[base][1]
        out.append(f'      const {t} {msg.name}__{cname} = {value};')
    out.append(f'      struct {msg.name}_ {{')
    if not msg.fields:
        out.append('        uint8 structure_needs_at_least_one_member;')
    for f in msg.fields:
        element = idl_element_type(f)
        if f.kind == 'single':
            out.append(f'        {element} {f.name};')
        elif f.kind == 'array':
            out.append(f'        {element} {f.name}[{f.size}];')
        elif f.kind == 'sequence':
            out.append(f'        sequence<{element}> {f.name};')
        else:
            out.append(f'        sequence<{element}, {f.size}> {f.name};')
    out += ['      };', '    };', '  };', '};', '', '#endif', '']
    return '\n'.join(out)


def gen_all_messages(messages):
    includes = '\n'.join(f'#include "{m.pkg}/msg/{m.snake}.hpp"' for m in messages.values())
    entries = '\n'.join(f'      MessageTypeSupportOf<{m.pkg}::msg::{m.name}>::get(),'
                         for m in messages.values())
    return f'''// Generated by generate_interfaces.py. Do not edit.
#pragma once

#include <vector>

{includes}
#include "rosidl_typesupport_velmora/message_type_support.hpp"

namespace rosidl_typesupport_velmora {{

/// The type support of every generated message, for tools that handle messages by type name.
inline const std::vector<const MessageTypeSupport*>& all_message_type_supports() {{
  static const std::vector<const MessageTypeSupport*> all{{
{entries}
  }};
  return all;
}}

}}  // namespace rosidl_typesupport_velmora
'''


def write_if_changed(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    if os.path.exists(path):
        with open(path, encoding='utf-8') as f:
            if f.read() == text:
                return
    with open(path, 'w', encoding='utf-8') as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--output-dir', required=True)
    parser.add_argument('msg_files', nargs='+', help='<package>/msg/<Name>.msg files')
    args = parser.parse_args()
    try:
        messages = {}
        for path in args.msg_files:
            msg = parse_msg(path)
            messages[f'{msg.pkg}/{msg.name}'] = msg
        for key, msg in messages.items():
            for dep in msg.deps:
                if dep not in messages:
                    raise MsgError(f'{msg.pkg}/msg/{msg.name}.msg uses "{dep}", which is not among '
                                   'the generated messages')
        for path in args.msg_files:
            msg = parse_msg(path)
            source = f'{msg.pkg}/msg/{msg.name}.msg'
            write_if_changed(os.path.join(args.output_dir, 'include', header_guard_path(msg)),
                             gen_header(msg, messages, source))
            write_if_changed(os.path.join(args.output_dir, 'idl', msg.pkg, 'msg', msg.name + '.idl'),
                             gen_idl(msg, source))
        write_if_changed(os.path.join(args.output_dir, 'include', 'rosidl_typesupport_velmora',
                                      'all_messages.hpp'), gen_all_messages(messages))
    except (MsgError, OSError) as e:
        print(f'generate_interfaces: error: {e}', file=sys.stderr)
        return 1
    return 0


if __name__ == '__main__':
    sys.exit(main())
