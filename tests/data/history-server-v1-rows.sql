-- What a PC of the first version had forwarded of tests/data/history-v1.sqlite to a server of
-- the first version (tests/data/history-server-v1.sql), through that version's own insert.
INSERT INTO paramporter.entry (source, local_id, source_host, time, "user", host, port, action,
    scope, part, serial, generation, result, stopped_at_field, file, file_hash, previous_hash, hash)
VALUES
    ('5d0c3a8e-2f61-4b7a-9c1e-0b7f6a2d4e90', 1, 'line-3', '2024-06-03T09:31:00.000Z', 'tech', 'line-3', '/dev/ttyUSB0', 'upload',
     'system', NULL, '1234', 'V7.3', 'SUCCESS', NULL, decode('2231323334222c224f4646220d0a22220d0a', 'hex'),
     '1f08b182e76b9f92ce0c01913855cee7bd1204b3166ba75cc08cc93b7fb18d78', NULL,
     'a8fa24735bafb049ce6e5c97008be7910c22dc819573f65047e3d80382c4b3a5'),
    ('5d0c3a8e-2f61-4b7a-9c1e-0b7f6a2d4e90', 2, 'line-3', '2024-06-03T09:32:00.000Z', 'tech', 'line-3', '/dev/ttyUSB0', 'upload',
     'part', '05', '1234', 'V7.3', 'SUCCESS', NULL, decode('2231323334222c224f4646220d0a223035222c22372e35220d0a', 'hex'),
     '8345683910d09fbfb40da18dcc05cff5de5af0b7116d7e079cc5f7e20096c549', 'a8fa24735bafb049ce6e5c97008be7910c22dc819573f65047e3d80382c4b3a5',
     '780ee2cf04d9d70a0cadd2b7a765bf265945d6ccf79af64c92248930931ecb7a'),
    ('5d0c3a8e-2f61-4b7a-9c1e-0b7f6a2d4e90', 3, 'line-3', '2024-06-03T09:33:00.000Z', 'tech', 'line-3', '/dev/ttyUSB0', 'upload',
     'part', '05', '1234', 'V7.3', 'Check sum error', NULL, NULL,
     NULL, '780ee2cf04d9d70a0cadd2b7a765bf265945d6ccf79af64c92248930931ecb7a',
     '978ec24bd20b59c6808ac82ba4a9824685ccaff69a5465235e74b42426851ed2'),
    ('5d0c3a8e-2f61-4b7a-9c1e-0b7f6a2d4e90', 4, 'line-3', '2024-06-03T09:34:00.000Z', 'tech', 'line-3', '/dev/ttyUSB0', 'download',
     'part', '05', '1234', 'V7.3', 'Error - NAK received from leak unit', 3, decode('2231323334222c224f4646220d0a223035222c22372e35220d0a', 'hex'),
     '8345683910d09fbfb40da18dcc05cff5de5af0b7116d7e079cc5f7e20096c549', '978ec24bd20b59c6808ac82ba4a9824685ccaff69a5465235e74b42426851ed2',
     '7f0cc40dee7af75d9a2043a824df3e9d9266128c9eed870db6e67e286c590b5b');
