"""rillwright_tools: the companion library of the `rillwright` module, for notebooks and
the `rillwright` command. Every function takes `source`, a path to a .rwn or .rwproj
file, or the network's text with `text=` and `format="rwn"|"rwproj"`.

    import rillwright_tools as rwt
"""

from .inputs import Source, resolve
from .service import level_of_service, sweep

__all__ = ["Source", "level_of_service", "resolve", "sweep"]
