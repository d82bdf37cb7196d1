"""python3 -m kestra.plot: kestra-plot."""

import sys

from .cli import main

sys.exit(main())
