-- The POS tables of the embedded default database (SQLite), as the tests and the demo create
-- them. The program itself never creates or alters tables.
CREATE TABLE tickets (
  Id INTEGER PRIMARY KEY AUTOINCREMENT,
  Venta INTEGER NOT NULL,
  Fecha DATE NOT NULL,
  Hora VARCHAR(8) NOT NULL,
  Efectivo DECIMAL(12,2) NOT NULL,
  Total DECIMAL(12,2) NOT NULL
);
CREATE INDEX idx_tickets_venta ON tickets (Venta);

CREATE TABLE ticketsdetalle (
  Id INTEGER PRIMARY KEY AUTOINCREMENT,
  Venta INTEGER NOT NULL,
  Partida SMALLINT NOT NULL,
  Fecha DATE NOT NULL,
  Hora VARCHAR(8) NOT NULL,
  Producto VARCHAR(20) NOT NULL,
  Descrip VARCHAR(60) NOT NULL,
  Cantidad SMALLINT NOT NULL,
  Precio DECIMAL(12,2) NOT NULL,
  IdTicket INTEGER NOT NULL
);
CREATE INDEX idx_ticketsdetalle_idticket ON ticketsdetalle (IdTicket);
