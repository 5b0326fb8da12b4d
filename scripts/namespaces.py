#!/usr/bin/env python3
"""Put each source folder's code in the namespace named after the folder.

    scripts/namespaces.py          # rewrite src/, tests/ and bench/ in place, print each change
    scripts/namespaces.py --check  # print what would change, exit 1 if anything would

The old catch-all namespace `player` (and its sub-namespaces) is mapped by the folder of the
file that declares the code, not by a list of names, so files written later in `player` move
too: src/X -> `X`, everything under src/engine/ -> `engine` (its sub-folders share one
namespace: their classes do not clash, and an `engine::midi` would hide the `midi` folder's
namespace from engine code). A sub-namespace of `player` named after a folder (`audio`,
`wave`, `midi`) is that folder's code, or code set beside it: it joins the declaring
folder's namespace. Any other sub-namespace (`model`, `live`) nests under the folder's one.
Namespaces that are not `player` stay as they are: app, services and storage already follow
their folders, and the specific ones (numtext, practice, panel, editor, about, forms) say
more than a folder would.

Every use is rewritten by looking it up as the compiler did before the move: qualified
names get the declaring folder's namespace, unqualified names that only resolved through
the shared namespace get a qualifier (types and constants) or a using-declaration
(functions that share a name with some class member), `using namespace player` becomes the
directives the file needs, and forward declarations move to their class's namespace.
Running it again changes nothing. Anything it cannot place stops it with an error.
"""
import re
import sys
from collections import defaultdict
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
OLD_ROOT = "player"
TREES = ("src", "tests", "bench")
CLASS_KEYS = {"class", "struct", "union", "enum"}
KEYWORDS = set("""alignas alignof and asm auto bool break case catch char char8_t char16_t char32_t
class co_await co_return co_yield concept const consteval constexpr constinit const_cast continue
decltype default delete do double dynamic_cast else enum explicit export extern false float for
friend goto if inline int long mutable namespace new noexcept not nullptr operator or private
protected public register reinterpret_cast requires return short signed sizeof static
static_assert static_cast struct switch template this thread_local throw true try typedef typeid
typename union unsigned using virtual void volatile wchar_t while final override""".split())


EXPRESSION_WORDS = {"return", "new", "throw", "case", "else", "do", "co_return", "co_yield",
                    "sizeof", "decltype", "typeid", "alignof", "noexcept"}


EXTERNAL_NAMESPACES = {"std"}
BUILTIN_TYPES = {"auto", "bool", "char", "double", "float", "int", "long", "short", "signed",
                 "unsigned", "void"}


class Failure(Exception):
    pass


# ---------------------------------------------------------------------------------------------
# Tokens

class Tok:
    __slots__ = ("kind", "text", "start", "end")

    def __init__(self, kind, text, start, end):
        self.kind, self.text, self.start, self.end = kind, text, start, end

    def __repr__(self):
        return f"{self.kind}:{self.text}"


TOKEN = re.compile(r"""
    (?P<ws>\s+)
  | (?P<comment>//[^\n]*|/\*.*?\*/)
  | (?P<raw>(?:u8|u|U|L)?R"(?P<delim>[^(\s]*)\(.*?\)(?P=delim)")
  | (?P<str>(?:u8|u|U|L)?"(?:\\.|[^"\\\n])*")
  | (?P<chr>(?:u8|u|U|L)?'(?:\\.|[^'\\\n])+')
  | (?P<num>\.?\d(?:[\w.']|[eEpP][+-])*)
  | (?P<id>[A-Za-z_]\w*)
  | (?P<punct>::|->|.)
""", re.S | re.X)


def lex(text):
    tokens, pos, line_start = [], 0, True
    while pos < len(text):
        if line_start:
            m = re.match(r"[ \t]*#(?:[^\n\\]|\\.)*", text[pos:], re.S)
            if m:
                tokens.append(Tok("pp", m.group(0), pos, pos + m.end()))
                pos += m.end()
                continue
        m = TOKEN.match(text, pos)
        kind = m.lastgroup if m.lastgroup != "delim" else "raw"
        if kind not in ("ws", "comment"):
            tokens.append(Tok(kind, m.group(0), pos, m.end()))
        chunk = m.group(0)
        line_start = "\n" in chunk if kind in ("ws", "comment") else False
        if kind == "ws" and not line_start and pos == 0:
            line_start = False
        pos = m.end()
    return tokens


# ---------------------------------------------------------------------------------------------
# Folders and namespaces

def folder_of(rel):
    parts = Path(rel).parts
    if parts[0] != "src" or len(parts) < 3:
        return None
    return parts[1] if parts[1] == "engine" else "/".join(parts[1:-1])


def folder_namespace(folder):
    return None if folder is None else (folder.split("/")[0],)


def folder_words(root):
    words = set()
    for path in (root / "src").rglob("*"):
        if path.is_dir():
            words.update(path.relative_to(root / "src").parts)
    return words


def map_path(old, folder, words):
    """The namespace a block declared as `old` in `folder` moves to."""
    if not old or old[0] != OLD_ROOT:
        return old
    base = folder_namespace(folder)
    if base is None:
        return None
    rest = old[1:]
    if rest and any(word.startswith(rest[0]) for word in words):
        rest = rest[1:]
    return base + rest


def render(home, context, leading):
    """The qualifier that names `home` from code in `context`."""
    if home == context[:len(home)]:
        return ""
    common = 0
    while common < min(len(home), len(context)) and home[common] == context[common]:
        common += 1
    prefix = "::" if leading and common == 0 else ""
    return prefix + "::".join(home[common:]) + "::"


# ---------------------------------------------------------------------------------------------
# Structure of one file

class Scope:
    def __init__(self, kind, parent, old=(), open_tok=None, header=None):
        self.kind = kind            # ns, anon, extern, class, enum, other, file
        self.parent = parent
        self.old = old              # the old namespace path this scope is in
        self.open_tok = open_tok    # index of "{"
        self.close_tok = None
        self.header = header        # token indices from "namespace" to "{"
        self.directives = []        # (token index of "using", old path named)
        self.stmts = []             # namespace-scope statements: lists of token indices
        self.children = []
        self.new = None

    @property
    def nslike(self):
        return self.kind in ("ns", "anon", "extern", "file")

    def top(self):
        scope = self
        while scope.parent is not None and scope.parent.kind != "file":
            scope = scope.parent
        return scope


class Source:
    def __init__(self, rel, text):
        self.rel, self.text = rel, text
        self.folder = folder_of(rel)
        self.toks = lex(text)
        self.scope_of = [None] * len(self.toks)
        self.file = Scope("file", None)
        self.decls = []             # (old path, name, kind, is_definition, scope, stmt)
        self.aliases = set()        # namespace aliases the file makes
        self.parse()

    def fail(self, index, message):
        line = self.text.count("\n", 0, self.toks[index].start) + 1
        raise Failure(f"{self.rel}:{line}: {message}")

    def parse(self):
        toks, scope, stmt = self.toks, self.file, []
        stack = []
        for i, tok in enumerate(toks):
            self.scope_of[i] = scope
            if tok.kind == "pp":
                if re.search(r"\b%s::" % OLD_ROOT, tok.text):
                    self.fail(i, "a preprocessor line names the old namespace")
                continue
            if tok.text == "{":
                kind, old, header = self.classify(stmt, scope)
                child = Scope(kind, scope, old, i, header)
                scope.children.append(child)
                stmt.append(("body", child))
                stack.append((scope, stmt))
                scope, stmt = child, []
                self.scope_of[i] = scope
            elif tok.text == "}":
                if not stack:
                    self.fail(i, "unbalanced braces")
                scope.close_tok = i
                child = scope
                scope, stmt = stack.pop()
                if child.kind in ("ns", "anon", "extern"):
                    stmt = []
                elif child.kind == "other" and scope.nslike and self.is_function(stmt):
                    stmt = self.end_statement(scope, stmt)
            elif tok.text == ";":
                stmt.append(i)
                stmt = self.end_statement(scope, stmt)
            elif tok.text == ")" and self.macro_call(stmt + [i]):
                # A macro at namespace scope often ends without a semicolon.
                stmt.append(i)
                stmt = self.end_statement(scope, stmt)
            else:
                stmt.append(i)
        if stack:
            raise Failure(f"{self.rel}: unbalanced braces")

    def macro_call(self, stmt):
        words = self.words(stmt)
        if len(words) < 3 or not re.match(r"[A-Z][A-Z0-9_]+$", words[0]) or words[1] != "(":
            return False
        return words.count("(") == words.count(")") and self.toks[stmt[-1] + 1].text != ";" \
            if stmt[-1] + 1 < len(self.toks) else True

    def words(self, stmt):
        return [self.toks[i].text for i in stmt if isinstance(i, int)]

    def classify(self, stmt, scope):
        words = self.words(stmt)
        if words[:1] == ["inline"]:
            words = words[1:]
        if words[:1] == ["namespace"]:
            names = tuple(w for w in words[1:] if w != "::")
            header = [i for i in stmt if isinstance(i, int)]
            return ("ns", scope.old + names, header) if names else ("anon", scope.old, header)
        if words[:1] == ["extern"] and len(words) == 2:
            return "extern", scope.old, None
        if scope.kind in ("ns", "anon", "extern", "file", "class"):
            for w in self.skip_template(words):
                if w in ("(", "="):
                    break
                if w in CLASS_KEYS:
                    return ("enum" if w == "enum" else "class"), scope.old, None
        return "other", scope.old, None

    @staticmethod
    def skip_template(words):
        if words[:1] != ["template"]:
            return words
        depth = 0
        for n, w in enumerate(words[1:], 1):
            depth += (w == "<") - (w == ">")
            if depth == 0:
                return words[n + 1:]
        return []

    def is_function(self, stmt):
        for item in stmt:
            if isinstance(item, tuple):
                return False
            text = self.toks[item].text
            if text == "=":
                return False
            if text == "(":
                return True
        return False

    def end_statement(self, scope, stmt):
        if scope.nslike and stmt:
            scope.stmts.append(stmt)
            self.declare(scope, stmt)
        return []

    def declare(self, scope, stmt):
        ints = [i for i in stmt if isinstance(i, int)]
        words = self.skip_template([self.toks[i].text for i in ints])
        ints = ints[len(ints) - len(words):]
        if not words or words[0] in ("namespace", "inline") and "namespace" in words[:2]:
            if words[:1] == ["namespace"] and len(words) > 2 and words[2] == "=":
                self.aliases.add(words[1])
            return
        if words[0] == "using":
            if len(words) > 2 and words[1] == "namespace":
                scope.directives.append((ints[0], ints[2:-1]))
            elif len(words) > 2 and words[2] == "=":
                self.add(scope, words[1], "type", True, stmt)
            return
        if words[0] == "typedef":
            self.add(scope, words[-2], "type", True, stmt)
            return
        body = any(isinstance(i, tuple) for i in stmt)
        lead = [w for w in words if w not in ("inline", "static", "constexpr", "extern", "const")]
        if lead and lead[0] in CLASS_KEYS:
            names = [w for w in lead[1:] if w not in ("class", "struct") and not w.startswith("[")]
            name = next((w for w in names if re.match(r"[A-Za-z_]\w*$", w)), None)
            if name is None:
                return
            if name.isupper() and len(names) > 1 and re.match(r"[A-Za-z_]\w*$", names[1]):
                name = names[1]  # an export macro before the name
            if not body and words[-1] == ";" and len(words) <= 4:
                self.add(scope, name, "forward", False, stmt)
            else:
                self.add(scope, name, "type", True, stmt)
            return
        self.declare_entities(scope, stmt, words, body)

    def declare_entities(self, scope, stmt, words, body):
        depth = 0
        for n, w in enumerate(words):
            if w in ("(", "[") and depth == 0 and n > 0:
                name = words[n - 1]
                if w == "(" and (n < 2 or words[n - 2] not in ("::", "operator", ".", "->")):
                    self.add_named(scope, name, "function", stmt)
                if w == "(":
                    return
            if w in ("=", ";", "{") and depth == 0 and n > 0:
                self.add_named(scope, words[n - 1], "variable", stmt)
                if w in (";", "{"):
                    return
                depth = 1  # skip the initializer up to a comma
                continue
            if w in ("(", "[", "{", "<"):
                depth += 1
            elif w in (")", "]", "}", ">"):
                depth = max(0, depth - 1)
            elif w == "," and depth == 1 and n + 1 < len(words):
                depth = 0

    def add_named(self, scope, name, kind, stmt):
        if re.match(r"[A-Za-z_]\w*$", name) and name not in KEYWORDS and not name.isupper():
            if kind == "variable" and re.match(r"k[A-Z]", name):
                kind = "constant"
            self.add(scope, name, kind, True, stmt)

    def add(self, scope, name, kind, definition, stmt):
        self.decls.append((scope.old, name, kind, definition, scope, stmt))


# ---------------------------------------------------------------------------------------------
# The whole tree

class Tree:
    def __init__(self, root):
        self.root = root
        self.words = folder_words(root)
        self.sources = []
        for tree in TREES:
            for path in sorted((root / tree).rglob("*")):
                if path.suffix in (".h", ".cpp") and path.is_file():
                    rel = path.relative_to(root).as_posix()
                    self.sources.append(Source(rel, path.read_text()))
        self.namespaces = set()
        self.homes = defaultdict(set)       # (old path, name) -> new paths it is defined in
        self.kinds = defaultdict(set)
        self.forwards = defaultdict(set)    # (old path, name) -> new paths of forward blocks
        self.local = defaultdict(set)       # file -> names of its anonymous namespaces
        self.where = {}
        for src in self.sources:
            self.assign(src, src.file)
        self.members = self.member_names()
        for src in self.sources:
            for old, name, kind, definition, scope, stmt in src.decls:
                if scope.kind == "anon" or any(s.kind == "anon" for s in self.chain(scope)):
                    self.local[src.rel].add(name)
                    continue
                home = scope.new
                if home is None:
                    continue
                key = (old, name)
                if definition:
                    self.homes[key].add(home)
                    self.kinds[key].add(kind)
                    self.where.setdefault((key, home), src.rel)
                else:
                    self.forwards[key].add(home)
        for key, homes in self.homes.items():
            if len(homes) > 1:
                places = ", ".join(f"{self.where[(key, h)]} ({'::'.join(h)})" for h in sorted(homes))
                raise Failure(f"{'::'.join(key[0] + (key[1],))} is declared in two folders: {places}")

    def member_names(self):
        """Names that some class has as a member: calls to them may mean the member."""
        names = set()
        for src in self.sources:
            toks = src.toks
            for i, tok in enumerate(toks[1:-1], 1):
                if tok.kind != "id":
                    continue
                before = toks[i - 1].text
                if before in (".", "->") or src.scope_of[i].kind == "class" and toks[i + 1].text == "(":
                    names.add(tok.text)
                elif before == "::" and i > 1 and toks[i - 2].kind == "id" and toks[i - 2].text[:1].isupper():
                    names.add(tok.text)
        return names

    @staticmethod
    def chain(scope):
        while scope is not None:
            yield scope
            scope = scope.parent

    def assign(self, src, scope):
        for child in scope.children:
            if child.kind == "ns":
                self.namespaces.update(child.old[:n] for n in range(1, len(child.old) + 1))
                child.new = map_path(child.old, src.folder, self.words)
            else:
                child.new = scope.new if scope.kind != "file" else ()
            self.assign(src, child)
        if scope.kind == "file":
            scope.new = ()

    def home(self, old, name):
        homes = self.homes.get((old, name)) or self.forwards.get((old, name))
        return next(iter(homes)) if homes and len(homes) == 1 else None

    def declared(self, old, name):
        return (old, name) in self.homes or (old, name) in self.forwards

    def kind(self, old, name):
        kinds = self.kinds.get((old, name), {"type"})
        return "type" if kinds & {"type", "forward"} else min(kinds)


# ---------------------------------------------------------------------------------------------
# Rewriting one file

class Rewrite:
    def __init__(self, tree, src):
        self.tree, self.src, self.toks = tree, src, src.toks
        self.edits = []                     # (start, end, text)
        self.usings = defaultdict(set)      # top-level scope -> "using x::y;" lines
        self.hoisted = defaultdict(list)    # top-level scope -> forward declaration lines
        self.directive_needs = defaultdict(set)  # directive token index -> new paths
        self.notes = []

    def edit(self, start, end, text):
        if self.src.text[start:end] != text:
            self.edits.append((start, end, text))

    def line_of(self, index):
        return self.src.text.count("\n", 0, self.toks[index].start) + 1

    # -- lookups in the old tree ----------------------------------------------------------

    def resolve_namespace(self, names, scope, leading):
        contexts = [()] if leading else [scope.old[:n] for n in range(len(scope.old), -1, -1)]
        for ctx in contexts:
            if ctx + names in self.tree.namespaces:
                return ctx + names
        if not leading:
            for at, path in self.directives_plain(scope):
                if path + names in self.tree.namespaces:
                    return path + names
        return None

    def directives_plain(self, scope):
        for s in self.tree.chain(scope):
            for at, names in s.directives:
                names = tuple(self.toks[i].text for i in names if self.toks[i].text != "::")
                for n in range(len(s.old), -1, -1):
                    if s.old[:n] + names in self.tree.namespaces:
                        yield at, s.old[:n] + names
                        break

    def lookup(self, name, scope):
        """(old path, via directive) of what an unqualified `name` meant, or None."""
        if name in self.tree.local[self.src.rel]:
            return None
        for n in range(len(scope.old), 0, -1):
            if self.tree.declared(scope.old[:n], name):
                return scope.old[:n], None
        if self.tree.declared((), name):
            return None
        for at, path in self.directives_plain(scope):
            if self.tree.declared(path, name):
                return path, at
        return None

    # -- the passes -------------------------------------------------------------------------

    def run(self):
        self.forward_declarations()
        self.blocks(self.src.file)
        self.names()
        self.finish_directives()
        self.insert_usings()
        return self.apply()

    def forward_declarations(self):
        for top in self.src.file.children:
            if top.kind != "ns":
                continue
            moves, keeps = [], 0
            for scope, stmt, key, home in self.forward_stmts(top):
                if home is None or home == scope.new:
                    keeps += 1
                else:
                    moves.append((scope, stmt, key, home))
            if not moves:
                continue
            if self.only_forwards(top):
                self.regroup(top)
            else:
                for scope, stmt, key, home in moves:
                    self.remove_stmt(stmt)
                    self.hoisted[top].append((home, key))
                for scope in self.emptied(top, moves):
                    self.remove_block(scope)

    def forward_stmts(self, scope):
        for stmt in scope.stmts:
            words = self.src.words(stmt)
            name = self.forward_name(words)
            if name:
                found = self.lookup(name, scope)
                old = found[0] if found else scope.old
                home = self.tree.home(old, name) if found else None
                if home is None and scope.new != scope.old:
                    home = self.fallback(name, scope)
                yield scope, stmt, (self.written(stmt), name), home
        for child in scope.children:
            if child.kind == "ns":
                yield from self.forward_stmts(child)

    @staticmethod
    def forward_name(words):
        """The class or enum a `class X;` or `enum class X : int;` declares, else None."""
        if words[-1:] != [";"] or not words or words[0] not in ("class", "struct", "enum"):
            return None
        rest = words[1:-1]
        if words[0] == "enum":
            if rest[:1] in (["class"], ["struct"]):
                rest = rest[1:]
            if ":" in rest:
                rest = rest[:rest.index(":")]
        return rest[0] if len(rest) == 1 and re.match(r"[A-Za-z_]\w*$", rest[0]) else None

    def written(self, stmt):
        return " ".join(self.src.words(stmt)).replace(" ;", ";").replace(" ::", "::").replace(":: ", "::")

    def fallback(self, name, scope):
        """A name the old tree does not declare: unique among the new namespaces, or None."""
        homes = {h for (old, n), hs in self.tree.homes.items()
                 if n == name and old[:1] != (OLD_ROOT,) for h in hs}
        return next(iter(homes)) if len(homes) == 1 else None

    def only_forwards(self, scope):
        for stmt in scope.stmts:
            if not self.forward_name(self.src.words(stmt)):
                return False
        return all(child.kind == "ns" and self.only_forwards(child) for child in scope.children)

    def regroup(self, top):
        groups = {}
        for scope, stmt, key, home in self.forward_stmts(top):
            if home is None:
                self.src.fail(stmt[0], f"cannot place the forward declaration of {key[1]}")
            groups.setdefault(home, []).append(key)
        lines = [f"namespace {'::'.join(h)} {{ {' '.join(k for k, n in keys)} }}"
                 for h, keys in groups.items()]
        start = self.toks[top.header[0]].start
        end = self.toks[top.close_tok].end
        self.edit(start, end, "\n".join(lines))
        self.regrouped = getattr(self, "regrouped", set()) | {id(top)}

    def emptied(self, top, moves):
        moved = {id(stmt) for _, stmt, _, _ in moves}

        def empty(scope):
            return all(id(s) in moved for s in scope.stmts) and all(
                c.kind == "ns" and empty(c) for c in scope.children)
        found = []

        def walk(scope):
            for child in scope.children:
                if child.kind == "ns":
                    if empty(child):
                        found.append(child)
                    else:
                        walk(child)
        walk(top)
        return found

    def remove_stmt(self, stmt):
        ints = [i for i in stmt if isinstance(i, int)]
        self.remove_span(self.toks[ints[0]].start, self.toks[ints[-1]].end)

    def remove_block(self, scope):
        # The statements inside were removed already; drop the rest of the block's text.
        self.edits = [e for e in self.edits if not (self.toks[scope.header[0]].start <= e[0]
                                                    and e[1] <= self.toks[scope.close_tok].end)]
        self.remove_span(self.toks[scope.header[0]].start, self.toks[scope.close_tok].end)
        scope.removed = True

    def remove_span(self, start, end):
        text = self.src.text
        line_start = text.rfind("\n", 0, start) + 1
        line_end = text.find("\n", end)
        line_end = len(text) if line_end < 0 else line_end
        before, after = text[line_start:start], text[end:line_end]
        if not before.strip() and (not after.strip() or after.strip().startswith("//")):
            self.edit(line_start, min(line_end + 1, len(text)), "")
        else:
            self.edit(start, end, "")

    def blocks(self, scope):
        for child in scope.children:
            if getattr(child, "removed", False) or id(child) in getattr(self, "regrouped", set()):
                continue
            if child.kind == "ns" and child.new != child.old:
                self.rename_block(child, scope)
            self.blocks(child)

    def rename_block(self, block, parent):
        if block.new is None:
            self.src.fail(block.header[0], f"namespace {'::'.join(block.old)} outside a source folder")
        outer = parent.new if parent.kind != "file" else ()
        opened = self.toks[block.header[0]].start, self.toks[block.open_tok].end
        closed = self.toks[block.close_tok].start, self.toks[block.close_tok].end
        if block.new == outer:
            self.remove_span(*opened)
            self.remove_span(*self.with_comment(*closed))
            return
        if block.new[:len(outer)] != outer:
            self.src.fail(block.header[0], f"namespace {'::'.join(block.old)} would leave its enclosing one")
        name = "::".join(block.new[len(outer):])
        self.edit(*opened, f"namespace {name} {{")
        start, end = self.with_comment(*closed)
        if end > closed[1]:
            self.edit(start, end, f"}} // namespace {name}")

    def with_comment(self, start, end):
        m = re.match(r"[ \t]*//[ \t]*namespace\b[^\n]*", self.src.text[end:])
        return (start, end + m.end()) if m else (start, end)

    def names(self):
        toks, n = self.toks, 0
        while n < len(toks):
            tok = toks[n]
            if tok.kind != "id" and tok.text != "::" or tok.kind == "id" and tok.text in KEYWORDS:
                n += 1
                continue
            prev = toks[n - 1].text if n else ""
            if prev in (".", "->", "::", "~", "namespace") or prev == "namespace" or \
                    n > 1 and (toks[n - 2].text, prev) == ("using", "namespace"):
                n += 1
                continue
            leading = tok.text == "::"
            first = n + 1 if leading else n
            chain = [first]
            while chain[-1] + 2 < len(toks) and toks[chain[-1] + 1].text == "::" \
                    and toks[chain[-1] + 2].kind == "id":
                chain.append(chain[-1] + 2)
            if first >= len(toks) or toks[first].kind != "id" or self.rewritten(n):
                n = chain[-1] + 1
                continue
            self.name_chain(n, chain, leading)
            n = chain[-1] + 1

    def rewritten(self, index):
        """Whether the token lies in text already taken out or written anew."""
        pos = self.toks[index].start
        return any(s <= pos < e and t == "" for s, e, t in self.edits) or any(
            s <= pos < e for s, e, t in self.edits if "namespace" in t and "{ " in t)

    def name_chain(self, n, chain, leading):
        scope = self.src.scope_of[chain[0]]
        words = [self.toks[i].text for i in chain]
        path, moved = None, False
        if len(chain) > 1:
            path = self.resolve_namespace((words[0],), scope, leading)
            moved = path is None and scope.old[:1] == (OLD_ROOT,)
            if moved:
                path = self.moved_namespace(chain[0], scope)
        if path is None:
            if leading or self.declares_here(chain[0]) or scope.kind == "enum":
                return
            self.unqualified(chain[0], scope)
            return
        k = 1
        while k < len(words) and path + (words[k],) in self.tree.namespaces:
            path += (words[k],)
            k += 1
        prev = self.toks[n - 1].text if n else ""
        if k == len(words) or path[0] != OLD_ROOT and not moved:
            if path[0] == OLD_ROOT and prev == "namespace":
                return  # a namespace block's own header
            if path[0] == OLD_ROOT:
                self.src.fail(chain[0], f"{'::'.join(words)}: a namespace, not a name, after the move")
            return
        name = words[k]
        home = self.tree.home(path, name) or (self.fallback(name, scope) if not self.tree.declared(path, name) else None)
        if home is None:
            self.src.fail(chain[0], f"cannot place {'::'.join(path + (name,))}")
        qualifier = render(home, self.context(scope), leading)
        start = self.toks[n].start
        end = self.toks[chain[k]].start
        if qualifier == "" and prev == "using" and self.toks[chain[k] + 1].text == ";":
            self.remove_stmt([n - 1, chain[k] + 1])
            return
        self.edit(start, end, qualifier)

    def moved_namespace(self, index, scope):
        """In a file still in the old namespace, once the rest has moved: `wave::` is the
        namespace of the folder it names (waveform); any other unknown name fails."""
        name = self.toks[index].text
        if not name[:1].islower() or name in EXTERNAL_NAMESPACES or name in self.src.aliases \
                or self.lookup(name, scope):
            return None
        folders = {word for word in self.tree.words if word.startswith(name)}
        roots = {f for f in folders if (f,) in self.tree.namespaces}
        if len(roots) == 1:
            return (next(iter(roots)),)
        self.src.fail(index, f"cannot place the namespace {name}")

    def context(self, scope):
        return scope.new if scope.new is not None else ()

    def declares_here(self, index):
        prev = self.toks[index - 1] if index else None
        if prev is None:
            return False
        if prev.text in CLASS_KEYS or prev.text == "namespace":
            return True
        # `PlayState PlayState() const;`, `static constexpr double kMinimumRate = ...`: a
        # member or variable named like what it stood for, declared after its type.
        after = self.toks[index + 1].text if index + 1 < len(self.toks) else ""
        typed = prev.kind == "id" and (prev.text not in KEYWORDS or prev.text in BUILTIN_TYPES)
        if after == "(":
            return typed or prev.kind == "id" and prev.text not in EXPRESSION_WORDS \
                and prev.text not in KEYWORDS or prev.text in ("*", "&", ">")
        return typed and after in ("=", ";", "{", "[", ",", ")")

    def unqualified(self, index, scope):
        name = self.toks[index].text
        found = self.lookup(name, scope)
        if found is None:
            if scope.old[:1] == (OLD_ROOT,) and re.match(r"[A-Z]|k[A-Z]", name) \
                    and not self.tree.declared(scope.old, name):
                home = self.fallback(name, scope)
                if home is not None and home != self.context(scope)[:len(home)]:
                    self.edit(self.toks[index].start, self.toks[index].start,
                              render(home, self.context(scope), False))
            return
        old, directive = found
        home = self.tree.home(old, name)
        if home is None:
            self.src.fail(index, f"cannot place {'::'.join(old + (name,))}")
        here = self.context(scope)
        if home == here[:len(home)]:
            return
        if directive is not None:
            self.directive_needs[directive].add(home)
            return
        kind = self.tree.kind(old, name)
        if kind in ("type", "constant") or name not in self.tree.members:
            self.edit(self.toks[index].start, self.toks[index].start, render(home, here, False))
        else:
            top = scope
            while top.kind not in ("ns",) and top.parent is not None:
                top = top.parent
            self.usings[top.top() if top.kind == "ns" else top].add(f"using {'::'.join(home)}::{name};")

    def finish_directives(self):
        self.present = set()
        for scope in self.all_scopes(self.src.file):
            for at, names in scope.directives:
                words = tuple(self.toks[i].text for i in names if self.toks[i].text != "::")
                if words[0] != OLD_ROOT and words in self.tree.namespaces:
                    self.present.add(words)
        for scope in self.all_scopes(self.src.file):
            for at, names in scope.directives:
                words = tuple(self.toks[i].text for i in names if self.toks[i].text != "::")
                target = None
                for n in range(len(scope.old), -1, -1):
                    if scope.old[:n] + words in self.tree.namespaces:
                        target = scope.old[:n] + words
                        break
                if target is None or target[0] != OLD_ROOT:
                    continue
                needs = sorted(h for h in self.directive_needs.get(at, ()) if h not in self.present)
                self.present.update(needs)
                end = self.toks[names[-1]].end + 1
                lines = "\n".join(f"using namespace {'::'.join(h)};" for h in needs)
                if lines:
                    self.edit(self.toks[at].start, end, lines)
                else:
                    self.remove_span(self.toks[at].start, end)

    def all_scopes(self, scope):
        yield scope
        for child in scope.children:
            yield from self.all_scopes(child)

    def insert_usings(self):
        text = self.src.text
        for top in set(self.usings) | set(self.hoisted):
            if top in self.hoisted:
                groups = {}
                for home, (written, name) in self.hoisted[top]:
                    groups.setdefault(home, []).append(written)
                lines = "".join(f"namespace {'::'.join(h)} {{ {' '.join(d)} }}\n" for h, d in groups.items())
                start = self.toks[top.header[0]].start
                line_start = text.rfind("\n", 0, start) + 1
                self.edit(line_start, line_start, lines)
            if top in self.usings and top.kind == "ns":
                at = text.find("\n", self.toks[top.open_tok].end) + 1
                lines = "".join(f"{u}\n" for u in sorted(self.usings[top]))
                self.edit(at, at, "\n" + lines if text[at:at + 1] != "\n" else "\n" + lines.rstrip("\n") + "\n")
            elif top in self.usings:
                self.src.fail(0, "needs " + " ".join(sorted(self.usings[top])) + " outside a namespace")

    def apply(self):
        text = self.src.text
        edits = sorted(set(self.edits), key=lambda e: (e[0], e[1]))
        for a, b in zip(edits, edits[1:]):
            if b[0] < a[1]:
                raise Failure(f"{self.src.rel}: overlapping edits at line "
                              f"{text.count(chr(10), 0, b[0]) + 1}: {a} {b}")
        for start, end, new in reversed(edits):
            text = text[:start] + new + text[end:]
        if "\n\n\n" not in self.src.text:
            # Lines taken out between blank lines leave two blank lines, which the code never has.
            while "\n\n\n" in text:
                text = text.replace("\n\n\n", "\n\n")
        return text, edits


def main():
    check = "--check" in sys.argv[1:]
    try:
        tree = Tree(ROOT)
        results = [(src, *Rewrite(tree, src).run()) for src in tree.sources]
    except Failure as failure:
        print(f"namespaces.py: {failure}", file=sys.stderr)
        return 2
    changed = 0
    for src, text, edits in results:
        if not edits:
            continue
        changed += 1
        for start, end, new in edits:
            line = src.text.count("\n", 0, start) + 1
            old = src.text[start:end]
            print(f"{src.rel}:{line}: {old.strip()!r} -> {new.strip()!r}")
        if not check:
            (ROOT / src.rel).write_text(text)
    print(f"{changed} file(s) {'would change' if check else 'changed'}")
    return 1 if check and changed else 0


if __name__ == "__main__":
    sys.exit(main())
