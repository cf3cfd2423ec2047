"""The type stubs and the module cannot drift apart: the stub declares exactly the names the module
holds, each as what it is (class, function or value), every callable's signature (names, kinds,
defaults) matches its stub, and no class has a member the other side lacks."""

import ast
import inspect
import os
import pathlib
import typing

import pytest

import vemor
from vemor import _native

STUB = pathlib.Path(_native.__file__).with_name("_native.pyi")


def stub_tree():
    return ast.parse(STUB.read_text())


def default_of(node):
    if node is None:
        return inspect.Parameter.empty
    return ast.literal_eval(node)


def stub_params(func, drop_self):
    """(name, kind, default) of a stub function's parameters."""
    args = func.args
    out = []
    positional = args.posonlyargs + args.args
    defaults = [None] * (len(positional) - len(args.defaults)) + list(args.defaults)
    for i, (a, d) in enumerate(zip(positional, defaults)):
        kind = (inspect.Parameter.POSITIONAL_ONLY if i < len(args.posonlyargs)
                else inspect.Parameter.POSITIONAL_OR_KEYWORD)
        out.append((a.arg, kind, default_of(d)))
    for a, d in zip(args.kwonlyargs, args.kw_defaults):
        out.append((a.arg, inspect.Parameter.KEYWORD_ONLY, default_of(d)))
    if drop_self:
        assert out and out[0][0] == "self", func.name
        out = out[1:]
    return out


def runtime_params(obj, drop_self):
    params = list(inspect.signature(obj).parameters.values())
    if drop_self:
        params = params[1:]
    return [(p.name, p.kind, p.default) for p in params]


def decorators(func):
    return {d.id for d in func.decorator_list if isinstance(d, ast.Name)}


def public(name):
    return not name.startswith("__") or name in ("__enter__", "__exit__")


def classes_of_stub():
    return {n.name: n for n in stub_tree().body if isinstance(n, ast.ClassDef)}


def runtime_class(name):
    return getattr(_native, name)


def is_type_alias(node):
    """`_Name: TypeAlias = ...`: a private spelling for annotations, which declares nothing."""
    return (isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name)
            and node.target.id.startswith("_") and isinstance(node.annotation, ast.Name)
            and node.annotation.id == "TypeAlias")


def stub_declarations():
    """What a type checker takes the stub's module to hold: name -> class, function or value."""
    declared = {}
    for node in stub_tree().body:
        if isinstance(node, ast.ClassDef):
            declared[node.name] = "class"
        elif isinstance(node, ast.FunctionDef):
            declared[node.name] = "function"
        elif is_type_alias(node):
            continue
        elif isinstance(node, ast.AnnAssign):
            declared[node.target.id] = "value"
        elif isinstance(node, ast.Assign):
            for target in node.targets:
                declared[target.id] = "value"
        elif isinstance(node, (ast.Import, ast.ImportFrom)):
            # A stub re-exports an import only in the form `import x as x`.
            for alias in node.names:
                if alias.asname is not None and alias.asname == alias.name:
                    declared[alias.asname] = "value"
        elif not (isinstance(node, ast.Expr) and isinstance(node.value, ast.Constant)):
            pytest.fail(f"stub statement of unknown meaning at line {node.lineno}")
    return declared


def runtime_kind(value):
    if isinstance(value, type):
        return "class"
    return "function" if callable(value) else "value"


def test_stub_declares_exactly_what_the_module_holds():
    runtime = {n: runtime_kind(v) for n, v in vars(_native).items() if not n.startswith("__")}
    assert stub_declarations() == runtime


def test_module_functions_match_their_stubs():
    funcs = [n for n in stub_tree().body if isinstance(n, ast.FunctionDef)]
    assert funcs
    for func in funcs:
        assert runtime_params(getattr(_native, func.name), False) == stub_params(func, False), func.name


@pytest.mark.parametrize("name", sorted(classes_of_stub()))
def test_class_matches_its_stub(name):
    node = classes_of_stub()[name]
    cls = runtime_class(name)
    if issubclass(cls, BaseException):
        assert [b.id for b in node.bases] == [b.__name__ for b in cls.__bases__]
        return
    stubbed = {}
    for item in node.body:
        if isinstance(item, ast.FunctionDef):
            stubbed[item.name] = item
        elif isinstance(item, ast.AnnAssign) and isinstance(item.target, ast.Name):
            stubbed[item.target.id] = item
    runtime = {n for n in vars(cls) if public(n)}
    if name == "Subscription":
        runtime |= {"__iter__", "__next__"}
    if name == "Rect":
        runtime |= {"__eq__", "__ne__", "__hash__"}
    assert set(stubbed) == runtime
    for attr, item in stubbed.items():
        raw = inspect.getattr_static(cls, attr)
        if isinstance(item, ast.AnnAssign):
            if attr == "__hash__":
                assert raw is None
            else:
                assert isinstance(raw, str), attr
        elif "property" in decorators(item):
            assert type(raw).__name__ == "getset_descriptor", attr
        elif "staticmethod" in decorators(item):
            assert isinstance(raw, staticmethod), attr
            assert runtime_params(getattr(cls, attr), False) == stub_params(item, False), attr
        elif attr in ("__iter__", "__next__", "__eq__", "__ne__"):
            assert callable(getattr(cls, attr)), attr
        else:
            assert type(raw).__name__ == "method_descriptor", attr
            assert runtime_params(getattr(cls, attr), True) == stub_params(item, True), attr


def test_save_png_is_stubbed_with_every_path_it_takes():
    """save_png names files as open() does: str, bytes and path-like objects of either."""
    method = next(item for item in classes_of_stub()["Screenshot"].body
                  if isinstance(item, ast.FunctionDef) and item.name == "save_png")
    annotation = eval(ast.unparse(method.args.args[1].annotation), {"os": os})  # noqa: S307
    assert set(typing.get_args(annotation)) == {str, bytes, os.PathLike[str], os.PathLike[bytes]}


def test_package_exports():
    assert vemor.__version__ == "0.1.0"
    assert len(vemor.__all__) == len(set(vemor.__all__)) == 26
    for name in vemor.__all__:
        assert getattr(vemor, name) is getattr(_native, name)
    assert all(not n.startswith("_") for n in vemor.__all__)
    assert (STUB.parent / "py.typed").exists()
