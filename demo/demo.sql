-- The Orvanta demo database: a small shop with customers, products, orders and their lines.
-- Built into build/demo.db by the "demo_db" target (sqlite3 demo.db < demo.sql).

PRAGMA foreign_keys = ON;

CREATE TABLE customers (
    id          INTEGER PRIMARY KEY,
    name        VARCHAR(60) NOT NULL,
    city        VARCHAR(40),
    country     VARCHAR(40),
    email       VARCHAR(80),
    joined      DATE NOT NULL,
    is_active   BOOLEAN NOT NULL DEFAULT 1
);

CREATE TABLE products (
    id          INTEGER PRIMARY KEY,
    sku         CHAR(8) NOT NULL UNIQUE,
    name        VARCHAR(80) NOT NULL,
    price       DECIMAL(10, 2) NOT NULL,
    weight_kg   DOUBLE,
    description TEXT
);

CREATE TABLE orders (
    id          INTEGER PRIMARY KEY,
    customer_id INTEGER NOT NULL REFERENCES customers(id),
    placed_at   TIMESTAMP NOT NULL,
    shipped_at  TIMESTAMP,
    note        VARCHAR(200)
);

CREATE TABLE order_lines (
    order_id    INTEGER NOT NULL REFERENCES orders(id),
    line_no     SMALLINT NOT NULL,
    product_id  INTEGER NOT NULL REFERENCES products(id),
    quantity    INTEGER NOT NULL,
    unit_price  DECIMAL(10, 2) NOT NULL,
    PRIMARY KEY (order_id, line_no)
);

CREATE INDEX idx_orders_customer ON orders(customer_id);
CREATE INDEX idx_customers_country_city ON customers(country, city);

INSERT INTO customers (id, name, city, country, email, joined, is_active) VALUES
    (1, 'Ada Lovelace',      'London',    'United Kingdom', 'ada@example.org',     '2019-03-14', 1),
    (2, 'Grace Hopper',      'Arlington', 'United States',  'grace@example.org',   '2020-07-01', 1),
    (3, 'Jürgen Müller',     'München',   'Deutschland',    'jm@example.de',       '2021-01-31', 1),
    (4, 'Zoë Ørsted',        'København', 'Danmark',        NULL,                  '2021-11-05', 0),
    (5, '王小明',             '北京',       '中国',            'xm.wang@example.cn',  '2022-02-22', 1),
    (6, '山田 花子',          '東京',       '日本',            'hanako@example.jp',   '2023-06-09', 1),
    (7, 'François Lefèvre',  'Besançon',  'France',         'f.lefevre@example.fr','2024-12-24', 1);

INSERT INTO products (id, sku, name, price, weight_kg, description) VALUES
    (1, 'KB-001', 'Mechanical keyboard', 129.90, 1.15,
        'Tenkeyless mechanical keyboard with hot-swappable switches.' || char(10) ||
        'Ships with a detachable USB-C cable and a keycap puller.'),
    (2, 'MS-002', 'Wireless mouse', 39.50, 0.09, 'Ergonomic right-handed mouse.'),
    (3, 'MN-003', '27" monitor', 289.00, 5.4, NULL),
    (4, 'CB-004', 'USB-C cable (2 m)', 9.99, 0.05, 'Braided cable, 100 W.'),
    (5, 'DK-005', 'Standing desk', 549.00, 32.0,
        'Electric height-adjustable desk with memory presets, anti-collision sensor, cable tray and '
        || 'a solid oak top. Delivered flat-packed; assembly takes about forty minutes with two people.'),
    (6, 'LT-006', '护眼台灯 (desk lamp)', 45.00, 0.8, '可调色温 LED 台灯');

INSERT INTO orders (id, customer_id, placed_at, shipped_at, note) VALUES
    (1, 1, '2024-01-15 09:30:00',     '2024-01-16 14:05:12',     NULL),
    (2, 2, '2024-02-03 17:45:30.250', '2024-02-05 08:00:00',     'Leave at the front desk'),
    (3, 3, '2024-03-21 11:00:00',     NULL,                      'Bitte vor 18 Uhr liefern'),
    (4, 5, '2024-04-01 00:00:00',     '2024-04-03 10:20:30.500', '请尽快发货'),
    (5, 1, '2024-05-30 23:59:59.999', NULL,                      NULL),
    (6, 6, '2024-06-12 13:14:15',     '2024-06-13 09:00:00',     NULL);

INSERT INTO order_lines (order_id, line_no, product_id, quantity, unit_price) VALUES
    (1, 1, 1, 1, 129.90),
    (1, 2, 4, 3, 9.99),
    (2, 1, 3, 2, 279.00),
    (3, 1, 5, 1, 549.00),
    (3, 2, 2, 1, 39.50),
    (4, 1, 6, 4, 45.00),
    (5, 1, 2, 2, 37.50),
    (6, 1, 1, 1, 119.90),
    (6, 2, 4, 2, 9.99);

CREATE VIEW order_totals AS
    SELECT o.id AS order_id,
           c.name AS customer,
           o.placed_at,
           SUM(l.quantity * l.unit_price) AS total,
           COUNT(*) AS lines
      FROM orders o
      JOIN customers c ON c.id = o.customer_id
      JOIN order_lines l ON l.order_id = o.id
     GROUP BY o.id, c.name, o.placed_at;
