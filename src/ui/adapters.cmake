target_sources(ppui PRIVATE)
