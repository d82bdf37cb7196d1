# The README's "From Python" example runs as written, from the top of the checkout, and prints
# what it says it prints.
import re
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]


def test_readme_example_runs_as_written(monkeypatch, capsys):
    text = (ROOT / "README.md").read_text()
    code = re.search(r"<!-- python-example -->\n```python\n(.*?)```", text, re.S).group(1)
    monkeypatch.chdir(ROOT)
    exec(compile(code, "README.md", "exec"), {})
    said = capsys.readouterr().out.splitlines()
    # What the comments say a line prints: the masked copies and the refusal.
    shown = re.findall(r"# (?:-[LF]: )?([A-Za-z]+|ERROR: .*)$", code, re.M)
    assert len(shown) == 3 and [line for line in shown if line not in said] == []
