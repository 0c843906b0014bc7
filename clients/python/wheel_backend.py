"""Build backend of the histdata package (PEP 517): writes the pure-Python
wheel from pyproject.toml's [project] table with the standard library only,
so that `pip install clients/python` needs no package index."""

import base64
import hashlib
import os
import tomllib
import zipfile

_HERE = os.path.dirname(os.path.abspath(__file__))
_PACKAGE = "histdata"


def _project():
    with open(os.path.join(_HERE, "pyproject.toml"), "rb") as f:
        return tomllib.load(f)["project"]


def _metadata(p):
    lines = ["Metadata-Version: 2.1", f"Name: {p['name']}", f"Version: {p['version']}",
             f"Summary: {p['description']}", f"Requires-Python: {p['requires-python']}"]
    lines += [f"Requires-Dist: {d}" for d in p.get("dependencies", [])]
    return "\n".join(lines) + "\n"


def _dist_info_files(p):
    scripts = "".join(f"{k} = {v}\n" for k, v in p.get("scripts", {}).items())
    return {
        "METADATA": _metadata(p),
        "WHEEL": "Wheel-Version: 1.0\nGenerator: wheel_backend\nRoot-Is-Purelib: true\nTag: py3-none-any\n",
        "entry_points.txt": f"[console_scripts]\n{scripts}",
    }


def _dist_info(p):
    return f"{p['name']}-{p['version']}.dist-info"


def get_requires_for_build_wheel(config_settings=None):
    return []


def prepare_metadata_for_build_wheel(metadata_directory, config_settings=None):
    p = _project()
    folder = os.path.join(metadata_directory, _dist_info(p))
    os.makedirs(folder, exist_ok=True)
    for name, text in _dist_info_files(p).items():
        with open(os.path.join(folder, name), "w", encoding="utf-8") as f:
            f.write(text)
    return _dist_info(p)


def build_wheel(wheel_directory, config_settings=None, metadata_directory=None):
    p = _project()
    name = f"{p['name']}-{p['version']}-py3-none-any.whl"
    records = []

    def add(zf, arcname, data):
        digest = base64.urlsafe_b64encode(hashlib.sha256(data).digest()).rstrip(b"=").decode()
        records.append(f"{arcname},sha256={digest},{len(data)}")
        zf.writestr(arcname, data)

    with zipfile.ZipFile(os.path.join(wheel_directory, name), "w", zipfile.ZIP_DEFLATED) as zf:
        for file in sorted(os.listdir(os.path.join(_HERE, _PACKAGE))):
            if file.endswith(".py"):
                with open(os.path.join(_HERE, _PACKAGE, file), "rb") as f:
                    add(zf, f"{_PACKAGE}/{file}", f.read())
        info = _dist_info(p)
        for file, text in _dist_info_files(p).items():
            add(zf, f"{info}/{file}", text.encode())
        records.append(f"{info}/RECORD,,")
        zf.writestr(f"{info}/RECORD", "\n".join(records) + "\n")
    return name
