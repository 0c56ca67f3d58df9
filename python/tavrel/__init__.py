from tavrel._tavrel import Hierarchy, Progression, __doc__, __version__

__all__ = ["Hierarchy", "Progression", "__version__"]
